#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <thread>
#include <functional>

#include "AddTracksDlg.h"
#include "AppSettings.h"
#include "Guid.h"
#include "Outputs.h"
#include "WindowPlace.h"
#include "Autostart.h"
#include "ManageAudioDlg.h"
#include "OnHoldDlg.h"
#include "QtTestMain.h"
#include "SettingsDlg.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;

namespace {

using tw::test::WaitFor;

class MainWindow : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::filesystem::create_directories("sounds/Music Tracks/T");
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            test::WriteTone(std::string("sounds/Music Tracks/T/") + name, 3, 440, 22050, 1);
        test::WriteText("audio.cfg", Config());
    }
    static std::string Config() {
        std::string text = "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n8\n0\n\n[MUSIC_LIST]\n";
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            text += std::string("sounds\\Music Tracks\\T\\") + name +
                    "\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n";
        return text + ".\n\n[VOICE_LIST]\n.\n\n";
    }
    void Settings(uint8_t startPlaying) {
        AppSettings s;
        s.startPlaying = startPlaying;
        s.trayIcon = 0;
        ASSERT_TRUE(s.SaveSettings());
    }
    std::unique_ptr<OnHoldDlg> Open() {
        OnHoldDlg::Options options;
        options.output = OutputMode::Direct;
        options.boxes = &boxes;
        auto w = std::make_unique<OnHoldDlg>(options);
        w->show();
        return w;
    }
    RecordingMessageBox boxes;
};

TEST_F(MainWindow, OpensPausedAndTogglesPlayAndPause) {
    Settings(0);
    auto w = Open();
    EXPECT_EQ(w->windowTitle(), "Tonewell v1.0 (paused)");
    EXPECT_TRUE(w->playButton()->isEnabled());
    EXPECT_FALSE(w->pauseButton()->isEnabled());
    EXPECT_EQ(w->musicList()->count(), 3);
    EXPECT_EQ(w->musicVolume()->value(), 8);
    // The value beside the slider is the one read, not the slider's first value.
    bool shown = false;
    for (QLabel* label : w->findChildren<QLabel*>()) shown |= label->text() == "8";
    EXPECT_TRUE(shown);
    EXPECT_EQ(w->musicProgress()->maximum(), 100);

    QTest::mouseClick(w->playButton(), Qt::LeftButton);
    EXPECT_EQ(w->windowTitle(), "Tonewell v1.0");
    EXPECT_FALSE(w->playButton()->isEnabled());
    EXPECT_TRUE(w->pauseButton()->isEnabled());
    QTest::mouseClick(w->pauseButton(), Qt::LeftButton);
    EXPECT_EQ(w->windowTitle(), "Tonewell v1.0 (paused)");
    EXPECT_TRUE(w->playButton()->isEnabled());
    // Space plays and pauses from the window; on a button it presses that button.
    QTest::keyClick(w.get(), Qt::Key_Space);
    EXPECT_EQ(w->windowTitle(), "Tonewell v1.0");
    QTest::keyClick(w.get(), Qt::Key_Space);
    EXPECT_EQ(w->windowTitle(), "Tonewell v1.0 (paused)");
}

TEST_F(MainWindow, StatusLineAndAMarkOnATrackThatDidNotLoad) {
    std::filesystem::remove("sounds/Music Tracks/T/a.wav");
    Settings(1);
    auto w = Open();
    // a.wav fails on the worker and b.wav is read instead.
    ASSERT_TRUE(WaitFor([&] { return w->player().music().next.stream != nullptr; }));
    QListWidgetItem* failed = w->musicList()->item(0);
    EXPECT_FALSE(failed->icon().isNull());
    EXPECT_EQ(failed->toolTip(), "Could not load: Unable to locate file (sounds\\Music Tracks\\T\\a.wav)");
    EXPECT_TRUE(w->musicList()->item(1)->icon().isNull());
    w->player().OnTimer(10);  // start
    w->player().OnTimer(11);  // the music gap ends: b.wav plays
    w->player().OnTimer(999);
    EXPECT_EQ(w->statusLine()->fullText(),
              QString::fromUtf8("1 track could not be loaded: see the list  \u00b7  Playing T\\b.wav  "
                                "\u00b7  No voice messages: add some with Manage Audio"));
    QTest::mouseClick(w->pauseButton(), Qt::LeftButton);
    EXPECT_EQ(w->statusLine()->fullText(), "Paused");
    EXPECT_TRUE(w->statusLine()->isVisible());
}

TEST_F(MainWindow, CloseAsksOnlyWhilePlayingAndEscapeDoesNothing) {
    Settings(1);
    auto w = Open();
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(boxes.boxes().empty());

    boxes.QueueAnswer(MbResult::No);
    w->close();
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Shutdown Tonewell");
    EXPECT_EQ(boxes.boxes()[0].text,
              "Warning: Shutting down Tonewell will stop all music/voice playback.\nAre you sure "
              "you want to do this?");
    EXPECT_EQ(boxes.boxes()[0].buttons, MbButtons::YesNo);

    QTest::mouseClick(w->pauseButton(), Qt::LeftButton);  // paused: no question
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(MainWindow, FirstRunKeepsManageAudioOffUntilTheNoticeIsAnswered) {
    std::filesystem::rename("audio.cfg", "default.cfg");
    Settings(1);
    auto w = Open();
    EXPECT_FALSE(w->manageButton()->isEnabled());
    w->player().OnTimer(999);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Tonewell");
    EXPECT_TRUE(w->manageButton()->isEnabled());
    w->player().OnTimer(999);
    EXPECT_EQ(boxes.boxes().size(), 1u);  // once a run
}

TEST_F(MainWindow, ThePlayingRowIsMarkedAndTheFocusMovesFreely) {
    Settings(1);
    auto w = Open();
    w->player().OnTimer(10);
    ASSERT_TRUE(WaitFor([&] { return w->player().music().next.stream != nullptr; }));
    w->player().OnTimer(11);  // the first song starts: row 0
    ASSERT_TRUE(w->player().music().current.stream != nullptr);
    EXPECT_TRUE(w->musicList()->item(0)->font().bold());
    // A click or the arrow keys move the focus; the mark stays on what plays.
    QTest::mouseClick(w->musicList()->viewport(), Qt::LeftButton, {},
                      w->musicList()->visualItemRect(w->musicList()->item(2)).center());
    EXPECT_EQ(w->musicList()->currentRow(), 2);
    QTest::keyClick(w->musicList(), Qt::Key_Up);
    EXPECT_EQ(w->musicList()->currentRow(), 1);
    EXPECT_TRUE(w->musicList()->item(0)->font().bold());
    EXPECT_FALSE(w->musicList()->item(1)->font().bold());
    EXPECT_EQ(w->musicList()->item(0)->data(Qt::AccessibleDescriptionRole).toString(), "playing");
    w->musicVolume()->setValue(5);
    EXPECT_EQ(w->player().music().current.buffer->GetVolume(), -1500);
    // The slider shows its value beside it.
    bool shown = false;
    for (QLabel* label : w->findChildren<QLabel*>()) shown |= label->text() == "5";
    EXPECT_TRUE(shown);
    EXPECT_NE(test::ReadText("audio.cfg").find("[MUSIC]\n2\n5\n"), std::string::npos);
}

TEST_F(MainWindow, SettingsDialogDefaultsAndAnUnknownDevice) {
    AppSettings s;
    s.LoadSettings();  // no file: the defaults, written
    {
        SettingsDlg dialog(s);
        // The stored choice says yes, but nothing starts at login until the entry exists.
        EXPECT_FALSE(dialog.autoStartBox()->isChecked());
        dialog.autoStartBox()->setChecked(true);
        EXPECT_TRUE(dialog.startPlayingBox()->isChecked());
        EXPECT_TRUE(dialog.trayIconBox()->isChecked());
        EXPECT_EQ(dialog.deviceList()->currentIndex(), 0);
        EXPECT_EQ(dialog.deviceList()->itemText(0), "Default audio device");
    }
    s.device.fill(0x5A);  // no output has this GUID
    SettingsDlg dialog(s);
    EXPECT_EQ(dialog.deviceList()->currentIndex(), 0);
    dialog.autoStartBox()->setChecked(true);
    dialog.trayIconBox()->setChecked(false);
    dialog.accept();
    EXPECT_FALSE(dialog.deviceChanged());
    EXPECT_EQ(test::ReadText("settings.cfg"),
              std::string("\x01\x01\x00", 3) + std::string(16, '\0'));
    // The login start is the desktop's autostart entry, which follows the box.
    EXPECT_EQ(dialog.autoStartBox()->text(), "Start Tonewell &automatically when I log in");
    const std::string entry = test::ReadText(AutostartEntryPath());
    EXPECT_NE(
        entry.find(" -automation --workdir \"" + std::filesystem::current_path().string() + "\""),
        std::string::npos)
        << entry;
    // Levelling is not in the 19 bytes: the box writes tonewell.conf, keeping its other lines.
    EXPECT_FALSE(dialog.levellingBox()->isChecked());
    EXPECT_FALSE(std::filesystem::exists("tonewell.conf"));
    test::WriteText("tonewell.conf", "# ours\noutput = null\n");
    SettingsDlg off(s);
    EXPECT_TRUE(off.autoStartBox()->isChecked());
    off.autoStartBox()->setChecked(false);
    off.levellingBox()->setChecked(true);
    off.accept();
    EXPECT_EQ(test::ReadText("tonewell.conf"), "# ours\noutput = null\nloudness = on\n");
    EXPECT_EQ(test::ReadText("settings.cfg").size(), 19u);
    EXPECT_FALSE(std::filesystem::exists(AutostartEntryPath()));
    EXPECT_TRUE(off.autostartProblem().empty());
}

// The close question's default answer is No: Enter must not end music on hold.
TEST(QuestionBoxes, YesNoDefaultsToNo) {
    QtMessageBox boxes;
    QTimer::singleShot(0, [] {
        auto* box = dynamic_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(boxes.Show("Stop?", "Shutdown Tonewell", MbButtons::YesNo), MbResult::No);
}

TEST_F(MainWindow, CancelAfterADeviceChangeKeepsTheFileAndTellsAboutTheRestart) {
    Settings(1);
    auto w = Open();
    const std::string before = test::ReadText("settings.cfg");
    bool changed = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<SettingsDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (dialog->deviceList()->count() < 2) dialog->deviceList()->addItem("Another output");
        dialog->deviceList()->setCurrentIndex(1);
        changed = dialog->deviceChanged();
        dialog->reject();
    });
    w->OpenSettings();
    EXPECT_TRUE(changed);
    EXPECT_EQ(test::ReadText("settings.cfg"), before);
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes().back().caption, "Change Audio Playback Device");
    EXPECT_EQ(boxes.boxes().back().text,
              "Switching to a new audio playback device will not take effect until you restart "
              "Tonewell.");
}

// "Manage Audio" edits a copy; OK with a change reloads the player's lists.
TEST_F(MainWindow, ManageAudioOkWithAChangeRestartsOnTheNewLists) {
    Settings(1);
    auto w = Open();
    EXPECT_TRUE(w->manageButton()->isEnabled());
    QTimer::singleShot(0, [] {
        auto* d = dynamic_cast<ManageAudioDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->music().list->item(0)->setSelected(true);
        d->music().remove->click();
        d->voice().interval->setCurrentIndex(1);  // 20 seconds
        d->okButton()->click();
    });
    QTest::mouseClick(w->manageButton(), Qt::LeftButton);
    EXPECT_EQ(w->player().config().music.tracks.size(), 2u);
    EXPECT_EQ(w->player().config().voice.gapSeconds, 20);
    EXPECT_EQ(w->musicList()->count(), 2);
    EXPECT_TRUE(w->player().config().loaded);
    // Cancel changes nothing.
    QTimer::singleShot(0, [] {
        auto* d = dynamic_cast<ManageAudioDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->music().clear->click();
        d->cancelButton()->click();
    });
    QTest::mouseClick(w->manageButton(), Qt::LeftButton);
    EXPECT_EQ(w->player().config().music.tracks.size(), 2u);
}

// Load errors raised while the player is inside an action are notices: shown at
// once without a loop of their own, later ones joining the open box as a list,
// and long paths wrapping inside it.
TEST(NoticeBoxes, NeverWaitAndJoinOneBox) {
    QWidget owner;
    owner.show();
    QtMessageBox boxes(&owner);
    const std::string longPath = "Unable to locate file (sounds\\Music Tracks\\" +
                                 std::string(40, 'x') + "\\" + std::string(60, 'y') + "\\" +
                                 std::string(60, 'z') + ".mp3)";
    boxes.Notify(longPath, "Error");
    QMessageBox* box = boxes.notice();
    ASSERT_NE(box, nullptr);
    QApplication::processEvents();
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    boxes.Notify("Unsupported audio format (sounds\\Music Tracks\\T\\junk.wav)", "Error");
    EXPECT_EQ(boxes.notice(), box);  // one box
    EXPECT_TRUE(box->text().contains(QStringLiteral("junk.wav")));
    EXPECT_TRUE(box->text().contains(QStringLiteral("zzz.mp3")));
    // The long path wraps: the box stays narrower than the line would be; a screen
    // reader gets the text without the breaks that let it wrap.
    QApplication::processEvents();
    EXPECT_LT(box->width(), box->fontMetrics().horizontalAdvance(QString::fromStdString(longPath)));
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->accessibleName().contains(QString::fromStdString(longPath)));
    EXPECT_FALSE(label->accessibleName().contains(QChar(0x200B)));
    for (int i = 0; i < 30; ++i) boxes.Notify("Message " + std::to_string(i), "Error");
    EXPECT_TRUE(box->informativeText().contains(QStringLiteral("more")));
    box->button(QMessageBox::Ok)->click();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(boxes.notice(), nullptr);
    boxes.Notify("Another", "Error");
    ASSERT_NE(boxes.notice(), nullptr);
    EXPECT_EQ(boxes.notice()->text(), QStringLiteral("Another"));
}

}  // namespace

int main(int argc, char** argv) {
    return tw::test::RunQtTests(argc, argv);
}

namespace {

// Add Tracks' previews are for the person at the desk: by default, on the line's
// own output, the dialog says that callers hear them; with another output chosen
// under Settings (Preview on), they play there and never on the line.
TEST_F(MainWindow, PreviewsPlayWhereSettingsSayAndCallersAreToldWhenTheyHearThem) {
    test::WriteTone("sounds/Music Tracks/T/tone.wav", 6, 1000, 48000, 1, 0.5);
    Settings(0);
    auto w = Open();
    bool told = false;
    auto addTracks = [&](const std::function<void(AddTracksDlg&)>& meanwhile) {
        QTimer::singleShot(0, [&] {
            auto* d = dynamic_cast<ManageAudioDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            QTimer::singleShot(0, [&] {
                auto* a = dynamic_cast<AddTracksDlg*>(QApplication::activeModalWidget());
                ASSERT_NE(a, nullptr);
                told = a->onLineNotice() != nullptr;
                meanwhile(*a);
                a->reject();
            });
            d->music().add->click();
            d->reject();
        });
        QTest::mouseClick(w->manageButton(), Qt::LeftButton);
    };
    addTracks([](AddTracksDlg&) {});
    EXPECT_TRUE(told);  // the default output is the line's own

    if (!std::getenv("TONEWELL_PULSE")) GTEST_SKIP() << "no test sound server";
    const Guid* sink = nullptr;
    std::vector<Guid> guids;
    std::vector<std::string> names;
    EnumerateOutputs([&](const Guid* g, const std::string& d, const std::string&) {
        guids.push_back(g ? *g : Guid{});
        names.push_back(d);
        return true;
    });
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find("Null") != std::string::npos) sink = &guids[i];
    ASSERT_NE(sink, nullptr);
    DeskSettings(QStringLiteral("devices"))
        .setValue(QStringLiteral("preview"),
                  QByteArray(reinterpret_cast<const char*>(sink->data()), 16).toHex());
    double onLine = -1, onDesk = -1;
    addTracks([&](AddTracksDlg& a) {
        for (int i = 0; i < a.trackList()->count(); ++i)
            if (a.trackList()->item(i)->text() == "tone.wav") a.trackList()->setCurrentRow(i);
        a.previewButton()->click();
        QTest::qWait(800);  // the output wakes for the sound
        // The line (the player's own mix) and the chosen output, at once.
        const int rate = w->player().device()->mixer().outputRate();
        std::vector<float> line(2 * static_cast<size_t>(rate));
        w->player().device()->mixer().Render(line.data(), rate);
        std::vector<float> left;
        for (size_t i = 0; i < line.size(); i += 2) left.push_back(line[i]);
        onLine = test::ToneMagnitude(left, rate, 1000);
        std::thread record([] {
            std::system("timeout 2 parec --raw --format=s16le --rate=48000 --channels=1 -d moh.monitor > desk.raw");
        });
        QTest::qWait(2300);
        record.join();
        const std::string raw = test::ReadText("desk.raw");
        std::vector<float> desk(raw.size() / 2);
        for (size_t i = 0; i < desk.size(); ++i) {
            int16_t v;
            std::memcpy(&v, raw.data() + 2 * i, 2);
            desk[i] = v / 32768.0f;
        }
        onDesk = test::ToneMagnitude(desk, 48000, 1000);
    });
    EXPECT_FALSE(told);
    EXPECT_LT(onLine, 0.01);
    EXPECT_GT(onDesk, 0.05);
}

}  // namespace
