#pragma once

// "Record Voice Messages": records up to 60 seconds from the microphone into
// "sound.wav", plays it back, and saves it as a voice message of the "Custom"
// category. Main thread. The capture and the writing run on two worker threads
// of the dialog's own, which end with it.

#include <QDialog>
#include <memory>
#include <string>

#include "DialogServices.h"
#include "RecordSound.h"
#include "SoundDevice.h"
#include "WriteSoundFile.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QComboBox;
class QPushButton;

namespace tw {

class RecordVoiceDlg : public QDialog {
  public:
    static constexpr int kSecondsTimer = 1;
    static constexpr int kMostSeconds = 60;

    // `device` (may be null) plays the preview.
    explicit RecordVoiceDlg(SoundDevice* device, const DialogServices& services = {},
                            QWidget* parent = nullptr);
    ~RecordVoiceDlg() override;  // stops a recording; both threads end

    // ASCII letters, digits and spaces only, with at least one letter or digit.
    static bool IsValidMessageName(const std::string& name);
    bool SaveRecording();
    bool ConfirmDiscard();

    bool recording() const { return recording_; }
    bool unsaved() const { return unsaved_; }
    int seconds() const { return seconds_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* previewButton() const { return preview_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* okButton() const { return ok_; }
    QLineEdit* nameEdit() const { return name_; }
    QProgressBar* progress() const { return progress_; }
    QProgressBar* level() const { return level_; }
    QComboBox* inputBox() const { return input_; }
    const SoundBuffer* previewBuffer() const { return preview_buffer_.get(); }

    void accept() override;
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartRecording();
    void StopRecording();
    void EnableNameControls(bool on);
    void OnTimer(int id);
    void OnCapture(const CaptureEvent& event);
    void TogglePreview();
    void StopPreview();
    void EndCapture();  // a close while recording: stop, keep nothing unsaved
    void ListInputs(const std::vector<std::string>& inputs);
    void UseInput(int index);

    SoundDevice* device_;
    OwnedServices services_;
    bool recording_ = false;
    bool unsaved_ = false;
    bool haveRecording_ = false;
    int seconds_ = 0;
    uintptr_t recordingNumber_ = 0;  // news of an earlier recording is stale
    std::unique_ptr<SoundBuffer> preview_buffer_;
    std::shared_ptr<SoundStream> previewData_;
    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();  // for posted news

    QLabel* instructions_;
    QLabel* inputLabel_;
    QComboBox* input_;
    QPushButton* record_;
    QProgressBar* progress_;
    QProgressBar* level_;
    QPushButton* preview_;
    QLabel* nameLabel_;
    QLineEdit* name_;
    QPushButton* save_;
    QPushButton* ok_;

    std::unique_ptr<CWriteSoundFile> writer_;
    std::unique_ptr<CRecordSound> recorder_;  // gone before the writer it feeds
};

}  // namespace tw
