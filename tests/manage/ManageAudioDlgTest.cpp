#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "AddTracksDlg.h"
#include "LogCapture.h"
#include "ManageAudioDlg.h"
#include "ScheduleDlg.h"
#include "WindowPlace.h"
#include "TempFolder.h"
#include "VirtualSession.h"
#include "Wav.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPlain = "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0";

// Acts on the next modal dialog of type D once it is open.
template <typename D>
void OnNextDialog(std::function<void(D&)> act) {
    QTimer::singleShot(0, [act] {
        auto* d = dynamic_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        act(*d);
    });
}

class ManageAudio : public test::TempFolderTest {
  protected:
    void Config(int voiceGap, int musicGap, int musicRandom, int tracks) {
        std::string text = "[VOICE]\n" + std::to_string(voiceGap) + "\n10\n0\n\n[MUSIC]\n" +
                           std::to_string(musicGap) + "\n10\n" + std::to_string(musicRandom) +
                           "\n\n[MUSIC_LIST]\n";
        for (int i = 0; i < tracks; ++i)
            text += "sounds\\Music Tracks\\T\\" + std::to_string(i) + ".wav\n" + kPlain + "\n";
        test::WriteText("audio.cfg", text + ".\n\n[VOICE_LIST]\n.\n\n");
        config.Load();
    }
    // Two 20-s songs (and `more` files beside them) listed, played for 3 s.
    void PlayTwoSongs(VirtualSession& session, std::initializer_list<const char*> more = {}) {
        fs::create_directories("sounds/Music Tracks/T");
        for (const char* f : {"0.wav", "1.wav"})
            test::WriteTone(std::string("sounds/Music Tracks/T/") + f, 20, 440, 44100, 2, 0.5);
        for (const char* f : more) test::WriteTone(std::string("sounds/Music Tracks/T/") + f, 20, 440, 44100, 2, 0.5);
        Config(30, 1, 0, 2);
        session.player().Initialise();
        session.Run(3000);
    }
    std::unique_ptr<ManageAudioDlg> Open() {
        return std::make_unique<ManageAudioDlg>(config, nullptr,
                                                DialogServices{nullptr, &boxes, &clock});
    }
    static QStringList Rows(const QListWidget* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    static void Select(QListWidget* list, std::initializer_list<int> rows) {
        list->clearSelection();
        for (int r : rows) list->item(r)->setSelected(true);
    }

    VirtualClock clock{{2026, 12, 7, 9, 0, 0}};
    RecordingMessageBox boxes;
    AudioConfig config{clock, boxes};
};

TEST_F(ManageAudio, IntervalsAndOrdersBothWays) {
    for (auto [stored, shown] : {std::pair{15, 0}, {65, 5}, {30, 2}, {5, -1}, {70, -1}}) {
        Config(stored, 3, 1, 1);
        auto d = Open();
        EXPECT_EQ(d->voice().interval->currentIndex(), shown) << stored;
        EXPECT_EQ(d->music().interval->currentIndex(), 2);
        EXPECT_FALSE(d->music().interval->isVisibleTo(d.get()));  // never shown
        EXPECT_EQ(d->music().order->currentText(), "Random");
        EXPECT_EQ(d->voice().order->currentText(), "In order");
        fs::remove("audio.cfg");
        d->okButton()->click();
        // OK writes a file that is gone even with no change, and the values stay as
        // they were.
        EXPECT_TRUE(fs::exists("audio.cfg"));
        EXPECT_FALSE(d->modified());
        EXPECT_EQ(test::ReadText("audio.cfg").rfind("[VOICE]\n" + std::to_string(stored) + "\n", 0),
                  0u);
    }
    // Picking an interval or an order stores it, and the player must take it.
    Config(30, 0, 0, 1);
    auto d = Open();
    EXPECT_EQ(d->music().interval->currentIndex(), -1);  // 0 is outside 1..10
    d->voice().interval->setCurrentIndex(5);
    EXPECT_TRUE(d->modified());
    EXPECT_EQ(d->workingCopy().voice.gapSeconds, 60);
    d->music().order->setCurrentIndex(1);
    EXPECT_EQ(d->workingCopy().music.random, 1);
    EXPECT_EQ(config.voice.gapSeconds, 30);  // the running configuration is not touched
    d->okButton()->click();
    EXPECT_EQ(test::ReadText("audio.cfg").rfind("[VOICE]\n60\n10\n0\n\n[MUSIC]\n0\n10\n1\n", 0),
              0u);
}

TEST_F(ManageAudio, DeleteMoveClearAndScheduleKeepRowsOnTheirTracks) {
    Config(30, 2, 0, 5);
    auto d = Open();
    QListWidget* list = d->music().list;
    EXPECT_EQ(Rows(list),
              (QStringList{"T\\0.wav", "T\\1.wav", "T\\2.wav", "T\\3.wav", "T\\4.wav"}));
    Select(list, {});
    EXPECT_FALSE(d->music().remove->isEnabled());
    Select(list, {1, 3});
    EXPECT_TRUE(d->music().remove->isEnabled());
    EXPECT_FALSE(d->music().up->isEnabled());  // only for one row
    d->music().remove->click();
    EXPECT_TRUE(d->modified());
    EXPECT_EQ(Rows(list), (QStringList{"T\\0.wav", "T\\2.wav", "T\\4.wav"}));
    ASSERT_EQ(d->workingCopy().music.tracks.size(), 3u);
    EXPECT_EQ(d->workingCopy().music.tracks[1].name, "sounds\\Music Tracks\\T\\2.wav");

    // Schedule on a remaining row edits its own track, and its clock shows.
    const QImage blank = list->item(1)->icon().pixmap(16).toImage();
    Select(list, {1});
    OnNextDialog<ScheduleDlg>([](ScheduleDlg& s) {
        s.timeBox()->click();
        s.okButton()->click();
    });
    d->music().schedule->click();
    EXPECT_TRUE(d->workingCopy().music.tracks[1].schedule.timeRangeOn);
    EXPECT_FALSE(d->workingCopy().music.tracks[0].schedule.HasAnyRange());
    EXPECT_NE(list->item(1)->icon().pixmap(16).toImage(), blank);
    EXPECT_EQ(list->item(0)->icon().pixmap(16).toImage(), blank);

    // Up on the first row and Down on the last change nothing.
    auto fresh = Open();
    QListWidget* l = fresh->music().list;
    Select(l, {0});
    fresh->music().up->click();
    Select(l, {4});
    fresh->music().down->click();
    EXPECT_FALSE(fresh->modified());
    EXPECT_EQ(Rows(l).front(), "T\\0.wav");
    Select(l, {2});
    fresh->music().up->click();
    EXPECT_EQ(Rows(l), (QStringList{"T\\0.wav", "T\\2.wav", "T\\1.wav", "T\\3.wav", "T\\4.wav"}));
    EXPECT_TRUE(l->item(1)->isSelected());
    // Up and Down are for one row: with two selected they are off.
    Select(l, {3, 4});
    EXPECT_FALSE(fresh->music().up->isEnabled());
    EXPECT_FALSE(fresh->music().down->isEnabled());
    EXPECT_TRUE(fresh->music().remove->isEnabled());
    fresh->music().clear->click();
    EXPECT_EQ(l->count(), 0);
    EXPECT_TRUE(fresh->workingCopy().music.tracks.empty());
    fresh->cancelButton()->click();
    EXPECT_EQ(config.music.tracks.size(), 5u);  // Cancel keeps what the window has
    EXPECT_NE(test::ReadText("audio.cfg").find("T\\4.wav"), std::string::npos);
}

// Under each list, what its schedules leave silent, worked out again on each change.
TEST_F(ManageAudio, TheCoverageLineFollowsTheSchedules) {
    Config(30, 2, 0, 2);
    for (Track& t : config.music.tracks) {
        t.schedule.timeRangeOn = true;
        t.schedule.timeFrom = {9, 0, 0};
        t.schedule.timeTo = {17, 0, 0};
    }
    auto d = Open();
    EXPECT_EQ(d->music().coverage->text(), "No music after 17:00 until 09:00 every day.");
    EXPECT_EQ(d->voice().coverage->text(), "No voice messages: the list is empty.");
    Select(d->music().list, {0, 1});
    OnNextDialog<ScheduleDlg>([](ScheduleDlg& s) {
        s.timeBox()->click();  // off: all day
        s.okButton()->click();
    });
    d->music().schedule->click();
    EXPECT_EQ(d->music().coverage->text(), "Music plays at every hour of the year.");
    d->music().clear->click();
    EXPECT_EQ(d->music().coverage->text(), "No music: the list is empty.");
}

TEST_F(ManageAudio, AFailedSaveKeepsTheDialogOpen) {
    Config(30, 2, 0, 1);
    auto d = Open();
    d->music().order->setCurrentIndex(1);
    EXPECT_TRUE(d->modified());
    fs::create_directory("audio.cfg.tmp");  // blocks the save
    d->show();
    d->okButton()->click();
    EXPECT_TRUE(d->isVisible());
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes().back().text.rfind("Unable to save audio.cfg: ", 0), 0u);
    fs::remove("audio.cfg.tmp");
    d->okButton()->click();
    EXPECT_FALSE(d->isVisible());
}

// End to end on the virtual clock: a track added through Add Tracks and moved to
// the top plays next once OK has restarted playback.
TEST_F(ManageAudio, ANewTrackMovedToTheTopPlaysNext) {
    test::LogCapture log;
    NullView view;
    VirtualSession session({2026, 12, 7, 9, 0, 0}, boxes, view);
    PlayTwoSongs(session, {"new.wav"});
    ASSERT_FALSE(log.With("status - play music T\\0.wav").empty());

    ManageAudioDlg d(session.player().config(), session.player().device(),
                     DialogServices{nullptr, &boxes, &clock});
    OnNextDialog<AddTracksDlg>([](AddTracksDlg& a) {
        for (int i = 0; i < a.trackList()->count(); ++i)
            a.trackList()->item(i)->setSelected(a.trackList()->item(i)->text() == "new.wav");
        a.okButton()->click();
    });
    d.music().add->click();
    QListWidget* list = d.music().list;
    ASSERT_EQ(list->count(), 3);
    for (int row = 2; row > 0; --row) {
        Select(list, {row});
        d.music().up->click();
    }
    EXPECT_EQ(list->item(0)->text(), "T\\new.wav");
    d.okButton()->click();
    ASSERT_TRUE(d.modified());
    session.player().ReloadConfiguration();
    log.lines.clear();
    session.Run(4000);
    const auto played = log.With("status - play music ");
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played.front(), "T\\new.wav");
}

}  // namespace

namespace {

// OK in Manage Audio with the lists as they play: nothing saved, nothing cut;
// with only the voice gap and the music order changed: the song plays on, the
// change is taken without a new cycle.
TEST_F(ManageAudio, OkWithoutNewTracksNeverCutsTheLine) {
    test::LogCapture log;
    NullView view;
    VirtualSession session({2026, 12, 7, 9, 0, 0}, boxes, view);
    PlayTwoSongs(session);
    ASSERT_EQ(log.With("status - play music ").size(), 1u);
    const auto written = fs::last_write_time("audio.cfg");

    auto okWith = [&](const std::function<void(ManageAudioDlg&)>& change) {
        ManageAudioDlg d(session.player().config(), session.player().device(),
                         DialogServices{nullptr, &boxes, &clock});
        // Add Tracks opened and cancelled changes nothing either.
        OnNextDialog<AddTracksDlg>([](AddTracksDlg& a) { a.reject(); });
        d.music().add->click();
        change(d);
        d.okButton()->click();
        if (d.modified()) session.player().TakeSavedLists();
        session.Run(2000);
    };
    okWith([](ManageAudioDlg&) {});
    EXPECT_EQ(fs::last_write_time("audio.cfg"), written);
    okWith([](ManageAudioDlg& d) {
        d.voice().interval->setCurrentIndex(d.voice().interval->currentIndex() + 1);
        d.music().order->setCurrentIndex(1 - d.music().order->currentIndex());
    });
    EXPECT_NE(fs::last_write_time("audio.cfg"), written);
    EXPECT_EQ(session.player().config().music.random, 1);
    // One song from the start: never stopped, never started again.
    EXPECT_EQ(log.With("status - play music ").size(), 1u);
    EXPECT_TRUE(log.With("status - music track finished").empty());
}

}  // namespace

namespace {

// What a screen reader and the keyboard find: the first list has the focus, the
// scroll area and the combo boxes are named, the coverage is a Tab stop.
TEST_F(ManageAudio, KeyboardAndScreenReaderFindTheirWay) {
    Config(30, 2, 0, 1);
    auto d = Open();
    d->show();
    QApplication::setActiveWindow(d.get());
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), d->voice().list);
    auto* scroll = d->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_FALSE(scroll->accessibleName().isEmpty());
    for (const QComboBox* box : {d->voice().interval, d->voice().order, d->music().order})
        EXPECT_FALSE(box->accessibleName().isEmpty());
    EXPECT_TRUE(d->music().coverage->focusPolicy() & Qt::TabFocus);
}

// A place saved smaller than the dialog needs (at another scale, with a smaller
// font) never cuts it: it opens at least as large as its content.
TEST_F(ManageAudio, NeverOpensSmallerThanItsContent) {
    Config(30, 2, 0, 3);
    const QSize needs = Open()->size();
    DeskSettings(QStringLiteral("windows")).setValue(QStringLiteral("manage-audio"), QRect(10, 10, 400, 300));
    auto d = Open();
    EXPECT_GE(d->width(), std::min(needs.width(), d->screen()->availableGeometry().width() - 16));
    EXPECT_GE(d->height(), std::min(needs.height(), d->screen()->availableGeometry().height() - 48));
}

}  // namespace
