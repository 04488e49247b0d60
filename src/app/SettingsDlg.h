#pragma once

// The "Settings" dialog: start with the session, start playing, tray, and the
// output to play on. OK stores and writes "settings.cfg"; Cancel stores nothing.

#include <QByteArray>
#include <QDialog>

#include "AppSettings.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;

namespace tw {

// The output Add Tracks' previews play on, as Settings keeps it: 16 bytes of a
// device's GUID, or empty for the desktop's default output.
QByteArray PreviewDevice();

class SettingsDlg : public QDialog {
  public:
    explicit SettingsDlg(AppSettings& settings, QWidget* parent = nullptr);
    // The user picked another output (also when the dialog was then cancelled).
    bool deviceChanged() const { return deviceChanged_; }
    // Empty when OK saved "settings.cfg" (or was not pressed); else the reason.
    const std::string& saveProblem() const { return saveProblem_; }
    // Empty when the autostart entry follows the box; else what failed.
    const std::string& autostartProblem() const { return autostartProblem_; }
    // Why "tonewell.conf" could not take the levelling box; empty when it did.
    const std::string& levellingProblem() const { return levellingProblem_; }

    QCheckBox* autoStartBox() const { return autoStart_; }
    QCheckBox* startPlayingBox() const { return startPlaying_; }
    QCheckBox* trayIconBox() const { return trayIcon_; }
    QCheckBox* levellingBox() const { return levelling_; }
    QComboBox* deviceList() const { return devices_; }
    QComboBox* previewList() const { return previews_; }
    QDialogButtonBox* buttons() const { return buttons_; }

    void accept() override;

  private:
    AppSettings& settings_;
    bool deviceChanged_ = false;
    std::string saveProblem_;
    std::string autostartProblem_;
    std::string levellingProblem_;
    QCheckBox* levelling_;
    bool levellingShown_ = false;
    QCheckBox* autoStart_;
    bool autoStartShown_ = false;  // what the box said when the dialog opened
    QCheckBox* startPlaying_;
    QCheckBox* trayIcon_;
    QComboBox* previews_ = nullptr;
    QComboBox* devices_;
    QDialogButtonBox* buttons_;
};

}  // namespace tw
