#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <thread>

#include "LoadSound.h"
#include "QtTestMain.h"
#include "RecordVoiceDlg.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

uint32_t DataBytes() {
    LoadedSound sound;
    return ReadSound("sound.wav", sound) ? static_cast<uint32_t>(sound.info.dataSize) : 0xFFFFFFFF;
}

class Recorder : public test::TempFolderTest {
  protected:
    std::unique_ptr<RecordVoiceDlg> Open() {
        auto d = std::make_unique<RecordVoiceDlg>(nullptr, DialogServices{&timers, &boxes, &clock});
        d->show();
        return d;
    }
    // Lets `ms` of real time pass for the capture, then hands its news over.
    void Capture(std::chrono::milliseconds ms) {
        std::this_thread::sleep_for(ms);
        timers.Advance(1);
    }
    // Records `seconds` (on the virtual clock) through the dummy input.
    void Record(RecordVoiceDlg& d, int seconds) {
        d.recordButton()->click();
        Capture(600ms);
        timers.Advance(seconds * 1000 - 1);
        if (d.recording()) d.recordButton()->click();
        Capture(300ms);
    }
    std::string LastBox() const { return boxes.boxes().empty() ? "" : boxes.boxes().back().text; }

    VirtualClock clock{{2026, 12, 7, 9, 0, 0}};
    VirtualTimerService timers{clock};
    RecordingMessageBox boxes;
};

TEST(RecorderNames, OnlyLettersDigitsAndSpaces) {
    for (const char* good : {"Greeting 2", " 2 ", "Holiday hours", "a"})
        EXPECT_TRUE(RecordVoiceDlg::IsValidMessageName(good)) << good;
    for (std::string bad : {"", "   ", "Hi!", "a-b", "a/b", "..", "caf\xC3\xA9", "tab\there"})
        EXPECT_FALSE(RecordVoiceDlg::IsValidMessageName(bad)) << bad;
    EXPECT_FALSE(RecordVoiceDlg::IsValidMessageName(std::string("a\0b", 3)));
}

TEST_F(Recorder, StatesRecordingStopsByItselfAtSixtyAndSaves) {
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Record Voice Messages");
    // Ready: only the record button and OK.
    EXPECT_TRUE(d->recordButton()->isEnabled());
    EXPECT_TRUE(d->okButton()->isEnabled());
    EXPECT_FALSE(d->saveButton()->isEnabled());
    EXPECT_FALSE(d->previewButton()->isEnabled());
    EXPECT_FALSE(d->nameEdit()->isEnabled());
    Capture(300ms);  // the inputs there are, the default first
    EXPECT_EQ(d->inputBox()->itemText(0), "Default input");
    EXPECT_EQ(d->inputBox()->currentIndex(), 0);

    d->recordButton()->click();
    EXPECT_EQ(d->recordButton()->text(), "Stop &Recording");
    EXPECT_FALSE(d->okButton()->isEnabled());
    EXPECT_FALSE(d->inputBox()->isEnabled());  // not changed under a recording
    Capture(600ms);
    timers.Advance(59000);
    EXPECT_TRUE(d->recording());
    EXPECT_EQ(d->progress()->value(), 59);
    timers.Advance(1000);
    EXPECT_FALSE(d->recording());  // stopped by itself
    EXPECT_EQ(d->seconds(), 60);
    EXPECT_TRUE(d->unsaved());
    EXPECT_EQ(d->recordButton()->text(), "Start &Recording");
    EXPECT_TRUE(d->saveButton()->isEnabled());
    EXPECT_TRUE(d->previewButton()->isEnabled());
    EXPECT_TRUE(d->inputBox()->isEnabled());
    Capture(300ms);
    EXPECT_EQ(DataBytes() % 1000, 0u);
    EXPECT_GT(DataBytes(), 0u);

    // Names: refused, then saved (the Custom folder made on the way), then taken.
    d->nameEdit()->setText("Hello!");
    EXPECT_FALSE(d->SaveRecording());
    EXPECT_EQ(LastBox(), "The voice message cannot be saved with that filename.");
    EXPECT_EQ(boxes.boxes().back().icon, MbIcon::Exclamation);
    d->nameEdit()->setText(QString(240, 'n'));  // valid letters, too long a path
    EXPECT_FALSE(d->SaveRecording());
    EXPECT_EQ(LastBox(), "The voice message cannot be saved with that filename.");
    ASSERT_FALSE(fs::exists("sounds/Voice Messages/Custom"));
    d->nameEdit()->setText(" 2 ");
    EXPECT_TRUE(d->SaveRecording());
    EXPECT_EQ(LastBox(), "Your recorded voice track has been saved.");
    EXPECT_EQ(boxes.boxes().back().caption, "Save Recorded Message");
    EXPECT_EQ(fs::file_size("sounds/Voice Messages/Custom/ 2 .wav"), fs::file_size("sound.wav"));
    EXPECT_FALSE(d->unsaved());
    EXPECT_FALSE(d->SaveRecording());
    EXPECT_EQ(LastBox(),
              "A voice message with that name already exists.\nPlease try another name.");
    // A copy that fails for another reason says so.
    fs::remove("sound.wav");
    d->nameEdit()->setText("Other");
    EXPECT_FALSE(d->SaveRecording());
    EXPECT_EQ(LastBox().rfind("The voice message could not be saved (", 0), 0u) << LastBox();
    // The saved message plays.
    std::unique_ptr<SoundBuffer> buffer;
    std::shared_ptr<SoundStream> data;
    uint32_t size = 0;
    EXPECT_TRUE(
        LoadSound(buffer, data, "sounds\\Voice Messages\\Custom\\ 2 .wav", size, nullptr, boxes));
}

// A save on a full disk leaves nothing in "Custom", says why, and a second try
// once there is room goes through under the same name.
TEST_F(Recorder, ASaveOnAFullDiskLeavesNothingBehind) {
    auto d = Open();
    test::WriteTone("sound.wav", 10, 1000, 8000, 1, 0.5);  // what a recording left: 160 KB
    fs::create_directories("sounds/Voice Messages/Custom");
    const std::string custom = fs::absolute("sounds/Voice Messages/Custom").string();
    if (std::system(("mount -t tmpfs -o size=4k tmpfs '" + custom + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "a small file system cannot be mounted here (needs root)";
    d->nameEdit()->setText("Full");
    const bool saved = d->SaveRecording();
    const bool empty = fs::is_empty(custom);
    ASSERT_EQ(std::system(("umount '" + custom + "'").c_str()), 0);
    EXPECT_FALSE(saved);
    EXPECT_EQ(LastBox(), "The voice message could not be saved (No space left on device).");
    EXPECT_TRUE(empty);
    EXPECT_TRUE(d->SaveRecording());
    EXPECT_EQ(fs::file_size(custom + "/Full.wav"), fs::file_size("sound.wav"));
}

TEST_F(Recorder, ClosingAsksAboutAnUnsavedRecording) {
    auto d = Open();
    d->okButton()->click();  // nothing recorded: closes at once
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.boxes().empty());

    d = Open();
    Record(*d, 3);
    ASSERT_TRUE(d->unsaved());
    boxes.QueueAnswer(MbResult::Cancel);
    d->okButton()->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(LastBox(), "Your recorded track has not been saved.  Would you like to save it now?");
    EXPECT_EQ(boxes.boxes().back().buttons, MbButtons::YesNoCancel);
    boxes.QueueAnswer(MbResult::Yes);  // with no name: the save fails, the dialog stays
    d->okButton()->click();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(LastBox(), "The voice message cannot be saved with that filename.");
    boxes.QueueAnswer(MbResult::Cancel);
    QTest::keyClick(d.get(), Qt::Key_Escape);  // Escape asks as well
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(LastBox(), "Your recorded track has not been saved.  Would you like to save it now?");
    boxes.QueueAnswer(MbResult::No);
    d->close();
    EXPECT_FALSE(d->isVisible());
    EXPECT_GT(DataBytes(), 0u);  // the recording stays in sound.wav
}

// "sound.wav" that cannot be written is said like a device that fails: the
// dialog goes back to ready and nothing is unsaved.
TEST_F(Recorder, ACaptureThatCannotStartIsSaidAndNothingIsUnsaved) {
    fs::create_directory("sound.wav");
    auto d = Open();
    d->recordButton()->click();
    Capture(300ms);
    EXPECT_FALSE(d->recording());
    EXPECT_FALSE(d->unsaved());
    EXPECT_EQ(d->recordButton()->text(), "Start &Recording");
    EXPECT_FALSE(d->saveButton()->isEnabled());
    EXPECT_TRUE(d->okButton()->isEnabled());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text.rfind("WAVEIN:20:cannot write sound.wav", 0), 0u)
        << boxes.boxes()[0].text;
    timers.Advance(5000);
    EXPECT_EQ(d->seconds(), 0);  // no seconds counted
}

// Quick clicks, and a dialog closed mid-recording: every thread ends with the
// dialog, and "sound.wav" holds whole blocks only.
TEST_F(Recorder, QuickClicksAndClosingMidRecordingLeaveAWholeFile) {
    {
        auto d = Open();
        for (int i = 0; i < 20; ++i) d->recordButton()->click();
        EXPECT_FALSE(d->recording());
        d->recordButton()->click();
        // The capture thread works through the quick clicks first.
        Capture(2000ms);
        EXPECT_TRUE(d->recording());
        QTest::keyClick(d.get(), Qt::Key_Escape);  // ends the take and closes
        EXPECT_FALSE(d->isVisible());
    }  // joined here
    EXPECT_EQ(DataBytes() % 1000, 0u);
    EXPECT_GE(DataBytes(), 1000u);
    EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace

int main(int argc, char** argv) {
    // The dummy input records silence: the dialog runs whole without a sound server.
    qputenv("SDL_AUDIODRIVER", "dummy");
    return tw::test::RunQtTests(argc, argv);
}
