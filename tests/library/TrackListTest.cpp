#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "TrackList.h"

using namespace tw;

namespace {

class Lists : public ::testing::Test {
  protected:
    VirtualClock clock{{2026, 6, 1, 12, 0, 0}};
    TrackList list{clock};

    static TrackSchedule Off() { return TrackSchedule{}; }
    static TrackSchedule Never() {  // a time range that does not include noon
        TrackSchedule s;
        s.timeRangeOn = true;
        s.timeFrom = {1, 0, 0};
        s.timeTo = {2, 0, 0};
        return s;
    }
    void Add(const std::vector<bool>& inSchedule) {
        for (size_t i = 0; i < inSchedule.size(); ++i)
            list.AddTrack("sounds\\Music Tracks\\C\\t" + std::to_string(i) + ".wav",
                          inSchedule[i] ? Off() : Never());
        list.BuildOrder();
    }
    // Slot numbers and pass indexes of the next `n` calls.
    std::vector<std::pair<int, int>> Next(int n) {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < n; ++i) {
            std::string name;
            int pass = -1;
            if (!list.NextTrack(name, pass)) {
                out.push_back({-1, -1});
                continue;
            }
            out.push_back({name[name.size() - 5] - '0', pass});
        }
        return out;
    }
    using Pairs = std::vector<std::pair<int, int>>;
};

TEST_F(Lists, InOrderPassIndexesWithTracksInAndOutOfSchedule) {
    Add({true, true, true});
    EXPECT_EQ(Next(5), (Pairs{{0, 0}, {1, 1}, {2, 2}, {0, 0}, {1, 1}}));

    list.Clear();
    Add({false, true, true});
    EXPECT_EQ(Next(4), (Pairs{{1, 0}, {2, 1}, {1, 0}, {2, 1}}));

    list.Clear();
    Add({false, false, true});
    EXPECT_EQ(Next(3), (Pairs{{2, 0}, {2, 0}, {2, 0}}));

    list.Clear();
    Add({false});
    EXPECT_EQ(Next(1), (Pairs{{-1, -1}}));
    EXPECT_EQ(list.position, 0);
    EXPECT_EQ(list.passCount, 0);

    list.Clear();
    EXPECT_EQ(Next(1), (Pairs{{-1, -1}}));
}

TEST_F(Lists, ListingAPassConsumesTheFirstTrackOfTheNext) {
    Add({true, true, true});
    // The main window lists one pass until a pass index of 0 comes again.
    std::vector<int> listed;
    for (bool first = true;; first = false) {
        std::string name;
        int pass;
        if (!list.NextTrack(name, pass) || (!first && pass == 0)) break;
        listed.push_back(pass);
    }
    EXPECT_EQ(listed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Next(1), (Pairs{{1, 1}}));
}

TEST_F(Lists, RandomOrderIsAFixedPermutation) {
    list.random = 1;
    std::srand(42);
    Add(std::vector<bool>(7, true));
    std::vector<int> order = list.order;
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    Pairs first = Next(7), second = Next(7);
    EXPECT_EQ(first, second);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(first[i].first, order[i]);
        EXPECT_EQ(first[i].second, i);
    }
    // The same seed gives the same order.
    std::srand(42);
    list.BuildOrder();
    EXPECT_EQ(list.order, order);

    list.Clear();
    Add({true});
    EXPECT_EQ(list.order, (std::vector<int>{0}));
}

TEST_F(Lists, EditingMovesNameScheduleAndFlagTogether) {
    Add({true, false});
    list.MoveUp(1);
    EXPECT_FALSE(list.tracks[0].inSchedule);
    EXPECT_TRUE(list.tracks[0].schedule.timeRangeOn);
    std::string name;
    ASSERT_TRUE(list.TrackName(0, name));
    EXPECT_EQ(name, "sounds\\Music Tracks\\C\\t1.wav");
    EXPECT_FALSE(list.TrackName(2, name));
    list.MoveDown(0);
    EXPECT_TRUE(list.tracks[0].inSchedule);
    list.RemoveTrack(0);
    list.RemoveTrack(0);
    EXPECT_FALSE(list.HasTracks());

    EXPECT_FALSE(list.AddTrack(std::string(256, 'a'), Off()));
    EXPECT_FALSE(list.HasTracks());
    EXPECT_TRUE(list.AddTrack(std::string(255, 'a'), Off()));
    EXPECT_FALSE(list.AddTrack("x", Never()));  // added, out of schedule now
    EXPECT_EQ(list.tracks.size(), 2u);
    EXPECT_EQ(list.CountInSchedule(), 1);
}

TEST_F(Lists, RefreshReportsAChangeWhenARangeOpens) {
    TrackSchedule lunch;
    lunch.timeRangeOn = true;
    lunch.timeFrom = {12, 0, 30};
    lunch.timeTo = {13, 0, 0};
    list.AddTrack("sounds\\Music Tracks\\C\\lunch.wav", lunch);
    EXPECT_FALSE(list.tracks[0].inSchedule);
    EXPECT_FALSE(list.RefreshScheduleFlags());
    clock.AdvanceMs(30000);
    EXPECT_TRUE(list.RefreshScheduleFlags());
    EXPECT_TRUE(list.tracks[0].inSchedule);
    EXPECT_FALSE(list.RefreshScheduleFlags());
}

// A check that lands exactly on the last second of a track's time range starts
// the track whose range goes on, not the one that has just ended.
TEST_F(Lists, ATrackWhoseRangeEndsThisSecondIsNotStarted) {
    clock.Set({2026, 6, 1, 17, 0, 0});
    TrackSchedule office;
    office.timeRangeOn = true;
    office.timeFrom = {9, 0, 0};
    office.timeTo = {17, 0, 0};
    list.AddTrack("sounds\\Music Tracks\\C\\day.wav", office);
    list.AddTrack("sounds\\Music Tracks\\C\\any.wav", Off());
    std::string name;
    int pass = 0;
    ASSERT_TRUE(list.NextTrack(name, pass));
    EXPECT_EQ(name, "sounds\\Music Tracks\\C\\any.wav");
    clock.AdvanceMs(-1000);  // a second earlier it still starts
    list.ResetPosition();
    ASSERT_TRUE(list.NextTrack(name, pass));
    EXPECT_EQ(name, "sounds\\Music Tracks\\C\\day.wav");
}

}  // namespace
