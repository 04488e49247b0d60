#pragma once

// "Manage Audio": edits both playlists on a private copy of the configuration.
// OK writes the copy to "audio.cfg"; Cancel throws it away. After OK, `modified`
// tells the main window whether to reload and restart playback. Main thread.

#include <QDialog>
#include <memory>
#include <vector>

#include "AudioConfig.h"
#include "DialogServices.h"
#include "ListsEditor.h"
#include "SoundDevice.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tw {

class ManageAudioDlg : public QDialog {
  public:
    // One list's controls.
    struct Side {
        bool isMusic = false;
        QListWidget* list = nullptr;
        QPushButton* add = nullptr;
        QPushButton* remove = nullptr;  // "Delete"
        QPushButton* clear = nullptr;
        QPushButton* schedule = nullptr;
        QPushButton* up = nullptr;
        QPushButton* down = nullptr;
        QLabel* intervalLabel = nullptr;
        QComboBox* interval = nullptr;
        QComboBox* order = nullptr;
        QLabel* coverage = nullptr;  // what the schedules leave silent
        QString coverageName;
    };

    ManageAudioDlg(const AudioConfig& config, SoundDevice* device,
                   const DialogServices& services = {}, QWidget* parent = nullptr);
    ~ManageAudioDlg() override;

    bool modified() const { return modified_; }
    AudioConfig& workingCopy() { return editor_->config(); }
    const Side& voice() const { return voice_; }
    const Side& music() const { return music_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    void accept() override;

  private:
    Side BuildSide(bool isMusic, QWidget* box);
    TrackList& ListOf(const Side& side) { return editor_->List(side.isMusic); }
    void Fill(const Side& side);
    void UpdateButtons(const Side& side);
    std::vector<int> SelectedRows(const Side& side) const;
    void Move(const Side& side, int step);
    void Add(const Side& side);
    void Delete(const Side& side);
    void Clear(const Side& side);
    void Schedule(const Side& side);

    SoundDevice* device_;
    DialogServices given_;
    OwnedServices services_;
    std::unique_ptr<ListsEditor> editor_;
    bool modified_ = false;
    Side voice_;
    Side music_;
    QPushButton* record_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace tw
