#pragma once

// "Add Music Tracks" / "Add Voice Messages": picks files of one kind from the
// "sounds" tree and appends them, with an empty schedule, to that list of the
// Manage Audio dialog's working copy. A click on a row's speaker previews the
// file on the main window's sound device, mixed with what is on hold.
//
// Main thread. The preview's file is read and decoded on a thread of the
// dialog's own, so a long MP3 never holds up the player's timers.

#include <QDialog>
#include <memory>
#include <string>

#include "AudioConfig.h"
#include "DialogServices.h"
#include "LoadSound.h"
#include "MessageThread.h"
#include "SoundDevice.h"

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace tw {

class AddTracksDlg : public QDialog {
  public:
    QLabel* onLineNotice() const { return onLine_; }
    static constexpr int kPreviewTimer = 999;
    static constexpr const char* kNoTracks = "-- There are no tracks in this category --";
    static constexpr const char* kPlayingPrefix = "Playing --> ";

    // `device` may be null (no output): nothing is then previewed.
    AddTracksDlg(bool isMusic, AudioConfig& config, SoundDevice* device,
                 const DialogServices& services = {}, QWidget* parent = nullptr);
    ~AddTracksDlg() override;  // stops the preview

    // Previews the track in `row`, or stops it when that row is the one playing.
    void SpeakerClicked(int row);
    int playingRow() const { return playingRow_; }
    bool previewLoading() const { return loading_; }
    const SoundBuffer* previewBuffer() const { return buffer_.get(); }

    QComboBox* categoryBox() const { return categories_; }
    QListWidget* trackList() const { return tracks_; }
    QLabel* helpText() const { return help_; }
    QPushButton* selectAllButton() const { return selectAll_; }
    QPushButton* previewButton() const { return preview_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* importButton() const { return import_; }

    // Brings files from anywhere into the category shown ("Import..." asks for them
    // in a file picker): each is checked by the loader, copied into place and
    // listed, selected; one that is not a sound is refused with the loader's words.
    void ImportFiles(const QStringList& paths);

    void accept() override;
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FillTracks();
    bool InList(const std::string& stored) const;
    void StopPreview();
    void PreviewRead(uint64_t ticket, const LoadedSound& sound);
    void OnTimer(int id);
    // The file name a row stands for (its bytes as the folder gave them).
    static std::string RowFile(const QListWidgetItem* item);

    bool isMusic_;
    AudioConfig& config_;
    QLabel* onLine_ = nullptr;  // previews are heard by callers
    SoundDevice* device_;
    OwnedServices services_;

    std::unique_ptr<SoundBuffer> buffer_;
    std::string previewPath_;
    int playingRow_ = -1;
    bool started_ = false;
    bool loading_ = false;
    uint64_t ticket_ = 0;
    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();  // for posted results

    QLabel* help_;
    QComboBox* categories_;
    QListWidget* tracks_;
    QPushButton* selectAll_;
    QPushButton* preview_;
    QPushButton* ok_;
    QPushButton* import_ = nullptr;
    QPushButton* cancel_;
    std::unique_ptr<MessageThread> reader_;  // last: gone first
};

}  // namespace tw
