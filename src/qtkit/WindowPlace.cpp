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

// A place per scale: one saved at 2x is not a place at 1x. The 1x key is the one
// places have always been kept under.
QString ScaledKey(const QWidget* window, const QString& key) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    return ratio == 1.0 ? key : key + QStringLiteral("@%1x").arg(ratio);
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
void RestorePlace(QWidget* window, const QString& key, QSize needs) {
    const QRect saved = Places().value(ScaledKey(window, key)).toRect();
    // Never smaller than the content needs (a larger font needs more).
    if (saved.isValid())
        window->setGeometry(QRect(saved.topLeft(), saved.size().expandedTo(needs).expandedTo(window->minimumSizeHint())));
    FitToScreen(window);
}

void SavePlace(const QWidget* window, const QString& key) {
    QSettings places = Places();
    places.setValue(ScaledKey(window, key), window->geometry());
}

void KeepPlace(QDialog* dialog, const QString& key, QSize needs) {
    RestorePlace(dialog, key, needs);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, key] { SavePlace(dialog, key); });
}

}  // namespace tw
