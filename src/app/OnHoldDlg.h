#pragma once

#include <optional>

// The main window: what plays in each channel, Play and Pause, the volumes, and
// the way to the settings. It owns the playback class and shows it.

#include <QDialog>

class QMenuBar;
class QTimer;
#include <memory>

#include "Clock.h"
#include "ElidedLabel.h"
#include "OnHoldPlayer.h"
#include "PlayerView.h"
#include "WebServer.h"
#include "QtMessageBox.h"
#include "QtTimerService.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QSystemTrayIcon;
class QMenu;

namespace tw {

class OnHoldDlg : public QDialog, public PlayerView {
  public:
    struct Options {
        bool startMinimized = false;
        OutputMode output = OutputMode::Device;
        std::vector<PcmSink*> sinks;  // beside the sound card; they outlive the window
        MessageBox* boxes = nullptr;  // null: Qt boxes owned by this window
        // Handed to the management dialogs (tests); null: their own.
        TimerService* dialogTimers = nullptr;
        std::optional<WebOptions> web;  // the web console, when asked for
    };
    explicit OnHoldDlg(Options options);
    ~OnHoldDlg() override;

    OnHoldPlayer& player() { return *player_; }
    QPushButton* manageButton() const { return manage_; }
    QPushButton* playButton() const { return play_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* settingsButton() const { return settings_; }
    QListWidget* voiceList() const { return voiceFiles_; }
    QListWidget* musicList() const { return musicFiles_; }
    QProgressBar* musicProgress() const { return musicProgress_; }
    QProgressBar* voiceProgress() const { return voiceProgress_; }
    QSlider* musicVolume() const { return musicVolume_; }
    QSlider* voiceVolume() const { return voiceVolume_; }
    bool inTray() const { return iconInTray_; }

    // Minimize: to the tray when the settings ask for it and a tray exists.
    void MinimizeWindow();
    void RestoreFromTray();
    // A second start: out of the tray, or up from under other windows.
    void BringForward();
    // "Manage Audio": on OK with changes, playback restarts on the new lists.
    void OpenManageAudio();
    void OpenSettings();
    void OpenAbout();
    // The recorder, as Manage Audio's "Record" opens it.
    void OpenRecorder();
    // The help window (also F1), and the playlist of what may play now.
    void OpenHelp();
    void OpenPlaylist();

    // PlayerView
    void SelectMusicRow(int row) override;
    void SelectVoiceRow(int row) override;
    void SetMusicProgress(int percent) override;
    void SetVoiceProgress(int percent) override;
    void SetTitle(const std::string& title) override;
    void SetButtons(bool playEnabled, bool pauseEnabled) override;
    void SetFileLists(const std::vector<std::string>& voice,
                      const std::vector<std::string>& music) override;
    void EnableManageAudio(bool enabled) override;
    void SetStatus(const std::string& text) override;
    void MarkFailedTracks(const TrackProblems& voice, const TrackProblems& music) override;
    ElidedLabel* statusLine() const { return status_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Where the user puts the window is kept (half a second after it stops moving).
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void reject() override;

  private:
    void BuildWindow();
    void SetTrayIcon(bool add);
    QMenuBar* BuildMenuBar();
    void UpdateTrayToolTip();

    QtTimerService timers_;
    QtMessageBox ownBoxes_;
    MessageBox& boxes_;
    SystemClock clock_;
    Options options_;
    std::unique_ptr<OnHoldPlayer> player_;
    std::unique_ptr<WebServer> web_;  // gone before the player
    bool iconInTray_ = false;

    QLabel* picture_ = nullptr;
    QPushButton* manage_ = nullptr;
    QPushButton* play_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* settings_ = nullptr;
    QListWidget* voiceFiles_ = nullptr;
    QListWidget* musicFiles_ = nullptr;
    QProgressBar* voiceProgress_ = nullptr;
    QProgressBar* musicProgress_ = nullptr;
    QSlider* voiceVolume_ = nullptr;
    QSlider* musicVolume_ = nullptr;
    QLabel* voiceValue_ = nullptr;
    QLabel* musicValue_ = nullptr;
    ElidedLabel* status_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QTimer* placeSaver_ = nullptr;
    QAction* playPause_ = nullptr;  // the tray's, named for what it will do
    QAction* playAction_ = nullptr;
    QAction* pauseAction_ = nullptr;
};

}  // namespace tw
