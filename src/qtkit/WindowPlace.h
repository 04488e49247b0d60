#pragma once

// Windows that fit the screen they open on, at any scale, and come back where the
// user left them. Places are kept in the user's config folder
// (~/.config/tonewell/windows.ini), not among the working folder's files. Main
// thread.

#include <QSettings>
#include <QSize>
#include <QString>

class QDialog;
class QWidget;

namespace tw {

// A file of the user's config folder (~/.config/tonewell/<name>.ini), for what
// belongs to the person at this desk rather than to the working folder.
QSettings DeskSettings(const QString& name);

// No larger than the available area of the window's screen, and inside it.
void FitToScreen(QWidget* window);
// The saved size and position under `key` (kept apart for each scale factor),
// never smaller than `needs` or the window's minimum, fitted to the screen; only
// fitted when none was saved.
void RestorePlace(QWidget* window, const QString& key, QSize needs = {});
void SavePlace(const QWidget* window, const QString& key);
// A dialog restored from `key` now and saved there whenever it closes, however it
// closes (OK, Cancel, Escape, the window manager's close).
void KeepPlace(QDialog* dialog, const QString& key, QSize needs = {});

}  // namespace tw
