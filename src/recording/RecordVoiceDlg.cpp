#include "RecordVoiceDlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "VoiceMessages.h"
#include "WindowPlace.h"
#include "LoadSound.h"
#include "Log.h"
#include "Paths.h"
#include "Skin.h"
#include "TrackList.h"

namespace tw {
namespace {

const char* const kInstructions =
    "To record a new voice message, click \"Start Recording\" and then speak your message into "
    "the microphone.  When you are done, click \"Stop Recording\" and you may preview the "
    "message with the \"Preview\" button.  Then, name your voice message and save it.  The new "
    "message will then be available to use from the Add Voice Messages window under the "
    "\"Custom\" category.";

// The input chosen last, by its name: which microphone is this desk's, not the
// working folder's.
QSettings Choices() {
    return DeskSettings(QStringLiteral("recorder"));
}

}  // namespace

RecordVoiceDlg::RecordVoiceDlg(SoundDevice* device, const DialogServices& services, QWidget* parent)
    : QDialog(parent), device_(device), services_(services, this) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(tr("Record Voice Messages"));
    instructions_ = new QLabel(tr(kInstructions), this);
    instructions_->setWordWrap(true);
    inputLabel_ = new QLabel(tr("&Input:"), this);
    input_ = new QComboBox(this);
    input_->addItem(tr("Default input"), QString());
    input_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    input_->setMinimumContentsLength(20);
    inputLabel_->setBuddy(input_);
    input_->setAccessibleName(tr("Input"));
    record_ = new QPushButton(tr("Start &Recording"), this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, kMostSeconds);
    progress_->setValue(0);
    progress_->setFormat(tr("%v s"));
    level_ = new QProgressBar(this);
    level_->setRange(0, 128);
    level_->setValue(0);
    level_->setTextVisible(false);
    level_->setMaximumWidth(90);
    level_->setAccessibleName(tr("Input level"));
    level_->setToolTip(tr("Input level"));
    preview_ = new QPushButton(tr("&Preview"), this);
    nameLabel_ = new QLabel(tr("Name of voice message:"), this);
    name_ = new QLineEdit(this);
    name_->setMaxLength(256);
    nameLabel_->setBuddy(name_);
    save_ = new QPushButton(tr("&Save"), this);
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setDefault(true);
    for (QPushButton* b : {record_, preview_, save_}) b->setAutoDefault(false);

    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(inputLabel_);
    inputRow->addWidget(input_, 1);
    auto* recordRow = new QHBoxLayout;
    recordRow->addWidget(record_);
    recordRow->addWidget(progress_, 1);
    recordRow->addWidget(level_);
    recordRow->addWidget(preview_);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameLabel_);
    nameRow->addWidget(name_, 1);
    nameRow->addWidget(save_);
    auto* okRow = new QHBoxLayout;
    okRow->addStretch();
    okRow->addWidget(ok_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(instructions_);
    top->addLayout(inputRow);
    top->addLayout(recordRow);
    top->addLayout(nameRow);
    top->addLayout(okRow);
    resize(520, 260);
    KeepPlace(this, QStringLiteral("recorder"));

    connect(record_, &QPushButton::clicked, this, [this] {
        if (recording_) {
            StopRecording();
            unsaved_ = true;
        } else {
            StartRecording();
        }
    });
    connect(save_, &QPushButton::clicked, this, [this] { SaveRecording(); });
    connect(preview_, &QPushButton::clicked, this, [this] { TogglePreview(); });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(input_, &QComboBox::activated, this, [this](int index) {
        UseInput(index);
        Choices().setValue(QStringLiteral("input"), input_->itemData(index).toString());
    });

    // The capture thread's news comes to this thread as posted tasks, and only
    // while the dialog is there.
    TimerService* timers = &services_.timers();
    writer_ = std::make_unique<CWriteSoundFile>();
    recorder_ = std::make_unique<CRecordSound>(
        8000, [owner = std::weak_ptr<const char>(lifetime_), timers, this](const CaptureEvent& e) {
            timers->PostTaskWhileAlive(owner, [e, this] { OnCapture(e); });
        });
    recorder_->Post(CRecordSound::SetWriter, reinterpret_cast<uintptr_t>(writer_.get()));
    recorder_->Post(CRecordSound::ListInputs);
    services_.timers().SetHandler([this](int id) { OnTimer(id); });
    EnableNameControls(false);
    ok_->setEnabled(true);
}

RecordVoiceDlg::~RecordVoiceDlg() {
    services_.timers().Stop(kSecondsTimer);
    services_.timers().SetHandler(nullptr);
    StopPreview();
    recorder_.reset();  // stops a capture, which closes the file; then joins
    writer_.reset();
}

bool RecordVoiceDlg::IsValidMessageName(const std::string& name) {
    return tw::IsValidMessageName(name);
}

void RecordVoiceDlg::EnableNameControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{name_, nameLabel_, preview_, ok_, save_})
        w->setEnabled(on);
}

void RecordVoiceDlg::StartRecording() {
    StopPreview();
    EnableNameControls(false);
    progress_->setEnabled(true);
    progress_->setValue(0);
    level_->setValue(0);
    input_->setEnabled(false);
    recorder_->Post(CRecordSound::StartCapture, ++recordingNumber_);
    recording_ = true;
    record_->setText(tr("Stop &Recording"));
    seconds_ = 0;
    services_.timers().Start(kSecondsTimer, 1000);
}

void RecordVoiceDlg::StopRecording() {
    services_.timers().Stop(kSecondsTimer);
    EnableNameControls(true);
    recorder_->Post(CRecordSound::StopCapture);
    recording_ = false;
    haveRecording_ = true;
    input_->setEnabled(true);
    record_->setText(tr("Start &Recording"));
    level_->setValue(0);
    name_->setFocus();
}

void RecordVoiceDlg::OnTimer(int id) {
    if (id != kSecondsTimer || !recording_) return;
    progress_->setValue(++seconds_);
    if (seconds_ >= kMostSeconds) {
        StopRecording();
        unsaved_ = true;
    }
}

void RecordVoiceDlg::OnCapture(const CaptureEvent& event) {
    if (event.kind != CaptureEvent::Inputs && event.recording != recordingNumber_) return;
    switch (event.kind) {
        case CaptureEvent::Inputs:
            ListInputs(event.inputs);
            return;
        case CaptureEvent::Block:
            if (recording_) level_->setValue(event.peak);
            return;
        case CaptureEvent::Failed:
            // Nothing was recorded: back to where the user was, nothing unsaved.
            services_.timers().Stop(kSecondsTimer);
            recording_ = false;
            input_->setEnabled(true);
            record_->setText(tr("Start &Recording"));
            level_->setValue(0);
            progress_->setValue(0);
            EnableNameControls(haveRecording_);
            ok_->setEnabled(true);
            services_.boxes().Show(event.text, "Tonewell");
            return;
        case CaptureEvent::Lost:
            // What was captured is kept: a finished recording, not saved yet.
            if (recording_) {
                StopRecording();
                unsaved_ = true;
            }
            // The code and the system's words went to the log.
            services_.boxes().Show(
                "The microphone stopped sending sound. What was recorded before is kept.",
                "Tonewell");
            return;
    }
}

// The inputs there are, with the one chosen last selected if it is still there;
// otherwise the default input records, and the choice is kept for when it is back.
void RecordVoiceDlg::ListInputs(const std::vector<std::string>& inputs) {
    const QString chosen = Choices().value(QStringLiteral("input")).toString();
    while (input_->count() > 1) input_->removeItem(1);  // "Default input" stays first
    int at = 0;
    for (const std::string& name : inputs) {
        const QString text = QString::fromStdString(name);
        input_->addItem(text, text);
        if (text == chosen) at = input_->count() - 1;
    }
    if (!chosen.isEmpty() && at == 0)
        Log("the input chosen for recording (%s) is not there: the default input records",
            chosen.toStdString().c_str());
    input_->setCurrentIndex(at);
    UseInput(at);
}

void RecordVoiceDlg::UseInput(int index) {
    auto choice = std::make_unique<InputChoice>();
    choice->name = input_->itemData(index).toString().toStdString();
    recorder_->Post(CRecordSound::UseInput, 0, std::move(choice));
}

bool RecordVoiceDlg::SaveRecording() {
    const std::string name = name_->text().left(256).toStdString();
    std::string stored, why;
    switch (SaveVoiceMessage("sound.wav", name, stored, why)) {
        case MessageSaved::Ok:
            unsaved_ = false;
            services_.boxes().Show("Your recorded voice track has been saved.",
                                   "Save Recorded Message");
            return true;
        case MessageSaved::BadName:
            services_.boxes().Show("The voice message cannot be saved with that filename.", "Error",
                                   MbButtons::Ok, MbIcon::Exclamation);
            return false;
        case MessageSaved::Exists:
            services_.boxes().Show(
                "A voice message with that name already exists.\nPlease try another name.",
                "Save Recorded Message", MbButtons::Ok, MbIcon::Exclamation);
            break;
        case MessageSaved::Failed:
            services_.boxes().Show("The voice message could not be saved (" + why + ").",
                                   "Save Recorded Message", MbButtons::Ok, MbIcon::Exclamation);
            break;
    }
    name_->setFocus();
    return false;
}

bool RecordVoiceDlg::ConfirmDiscard() {
    if (!unsaved_) return true;
    switch (services_.boxes().Show(
        "Your recorded track has not been saved.  Would you like to save it now?",
        "Unsaved Recorded Track", MbButtons::YesNoCancel, MbIcon::Exclamation)) {
        case MbResult::Yes:
            return SaveRecording();
        case MbResult::No:
            return true;
        default:
            return false;
    }
}

void RecordVoiceDlg::TogglePreview() {
    if (preview_buffer_ && preview_buffer_->IsPlaying()) {
        StopPreview();
        return;
    }
    StopPreview();
    uint32_t size = 0;
    if (LoadSound(preview_buffer_, previewData_, "sound.wav", size, device_, services_.boxes()) &&
        preview_buffer_)
        preview_buffer_->Play();
}

void RecordVoiceDlg::StopPreview() {
    if (preview_buffer_) preview_buffer_->Stop();
    preview_buffer_.reset();
    previewData_.reset();
}

void RecordVoiceDlg::EndCapture() {
    if (!recording_) return;
    // Closed mid-recording: the capture stops and the file is closed; the user
    // chose to leave, so nothing is asked.
    services_.timers().Stop(kSecondsTimer);
    recorder_->Post(CRecordSound::StopCapture);
    recording_ = false;
}

void RecordVoiceDlg::accept() {
    if (!ConfirmDiscard()) return;
    StopPreview();
    QDialog::accept();
}

void RecordVoiceDlg::reject() {
    // Escape asks as the close button does: a take made and not saved is not
    // thrown away unasked; one still being recorded ends, as the user chose.
    if (recording_) {
        EndCapture();
    } else if (!ConfirmDiscard()) {
        return;
    }
    StopPreview();
    QDialog::reject();
}

void RecordVoiceDlg::closeEvent(QCloseEvent* event) {
    if (recording_) {
        EndCapture();
    } else if (!ConfirmDiscard()) {
        event->ignore();
        return;
    }
    StopPreview();
    event->accept();
    QDialog::done(QDialog::Rejected);
}

}  // namespace tw
