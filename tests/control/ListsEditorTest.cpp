#include <gtest/gtest.h>

#include <filesystem>

#include "ListsEditor.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;

namespace {

class Editing : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::filesystem::create_directories("sounds/Music Tracks/T");
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            test::WriteTone(std::string("sounds/Music Tracks/T/") + name, 0.1);
        test::WriteText("audio.cfg",
                        "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
                        "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
                        ".\n\n[VOICE_LIST]\n.\n\n");
        config.Load();
    }
    static std::vector<std::string> Names(const TrackList& list) {
        std::vector<std::string> out;
        for (const Track& t : list.tracks) out.push_back(t.name.substr(22));
        return out;
    }
    VirtualClock clock{{2026, 12, 7, 9, 0, 0}};
    RecordingMessageBox boxes;
    AudioConfig config{clock, boxes};
};

}  // namespace

// Two people edit the same lists: the second save names an older version and is
// refused; nothing of either is merged or lost.
TEST_F(Editing, ASaveOverANewerVersionIsRefused) {
    ListsEditor window(config), page(config);
    std::string why;
    ASSERT_TRUE(page.Add(true, {"sounds\\Music Tracks\\T\\b.wav"}, why)) << why;
    ASSERT_EQ(page.Save(why), ListsEditor::Saved::Ok) << why;
    window.Clear(true);
    EXPECT_EQ(window.Save(why), ListsEditor::Saved::Conflict);
    EXPECT_EQ(why, "The lists were changed elsewhere; reload to see them");
    config.Load();
    EXPECT_EQ(Names(config.music), (std::vector<std::string>{"a.wav", "b.wav"}));
    // The page saves again on its own newer version.
    EXPECT_TRUE(page.Move(true, 1, -1));
    EXPECT_EQ(page.Save(why), ListsEditor::Saved::Ok);
    config.Load();
    EXPECT_EQ(Names(config.music), (std::vector<std::string>{"b.wav", "a.wav"}));
}

// What a page may send that the dialogs never would.
TEST_F(Editing, BadEditsChangeNothing) {
    ListsEditor e(config);
    std::string why;
    EXPECT_FALSE(e.Add(true, {"sounds\\Music Tracks\\T\\..\\..\\..\\etc\\passwd"}, why));
    EXPECT_FALSE(e.Add(true, {"sounds\\Voice Messages\\T\\a.wav"}, why));  // the other kind
    EXPECT_FALSE(e.Add(true, {"sounds\\Music Tracks\\T\\b.wav", "sounds\\Music Tracks\\T\\x.wav"},
                       why));
    EXPECT_EQ(why, "no such file: sounds\\Music Tracks\\T\\x.wav");
    EXPECT_EQ(e.List(true).tracks.size(), 1u);  // all or nothing
    EXPECT_FALSE(e.SetVolume(true, 11));
    EXPECT_FALSE(e.SetGap(false, 15));
    EXPECT_FALSE(e.SetGap(true, 20));
    EXPECT_FALSE(e.SetOrder(true, 2));
    TrackSchedule feb31;
    feb31.dateRangeOn = true;
    feb31.dateFrom = DateOrTime(2027, 2, 31);
    feb31.dateTo = DateOrTime(2027, 3, 1);
    EXPECT_FALSE(e.ApplySchedule(true, {0}, feb31, why));
    EXPECT_EQ(why, "no such date");
    TrackSchedule hours;
    hours.timeRangeOn = true;
    hours.timeFrom = DateOrTime(9, 0, 0);
    hours.timeTo = DateOrTime(17, 0, 0);
    EXPECT_FALSE(e.ApplySchedule(true, {3}, hours, why));  // a track deleted elsewhere
    EXPECT_FALSE(e.Move(true, 3, -1));
    EXPECT_FALSE(e.List(true).tracks[0].schedule.HasAnyRange());
    // A real one, and the summary says what it leaves silent.
    EXPECT_TRUE(e.ApplySchedule(true, {0}, hours, why));
    EXPECT_EQ(e.CoverageText(true, clock.Now()), "No music after 17:00 until 09:00 every day.");
    e.Remove(true, {0, 0, 7});
    EXPECT_TRUE(e.List(true).tracks.empty());
}
