#include "WindowPlace.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tw {
namespace {

QSettings Places() {
    return DeskSettings(QStringLiteral("windows"));
}

}  // namespace

QSettings DeskSettings(const QString& name) {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tonewell"), name);
}

void FitToScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect room = screen->availableGeometry();
    // The frame the window manager adds is not known before the window shows:
    // leave room for a title bar.
    const QSize most(room.width() - 16, room.height() - 48);
    // A window its layout sizes (never resized) would show at its size hint.
    const QSize wanted = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
    const QSize size = wanted.boundedTo(most).expandedTo(window->minimumSizeHint());
    // A window never placed is left for the window manager to place.
    if (!window->testAttribute(Qt::WA_Moved)) {
        window->resize(size);
        return;
    }
    QPoint at = window->geometry().topLeft();
    at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - size.width())));
    at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - size.height())));
    window->setGeometry(QRect(at, size));
}

// The window's own area, not its frame: the frame a window manager adds is not
// known before the window shows, and a frame position restored then lands a title
// bar lower each time.
void RestorePlace(QWidget* window, const QString& key) {
    const QRect saved = Places().value(key).toRect();
    if (saved.isValid()) window->setGeometry(saved);
    FitToScreen(window);
}

void SavePlace(const QWidget* window, const QString& key) {
    QSettings places = Places();
    places.setValue(key, window->geometry());
}

void KeepPlace(QDialog* dialog, const QString& key) {
    RestorePlace(dialog, key);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, key] { SavePlace(dialog, key); });
}

}  // namespace tw
