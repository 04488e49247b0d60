#include <gtest/gtest.h>

#include <random>

#include "ScheduleCoverage.h"

using namespace tw;

namespace {

Track Scheduled(bool dates, DateOrTime df, DateOrTime dt, bool times, DateOrTime tf,
                DateOrTime tt) {
    Track t;
    t.name = "sounds\\Music Tracks\\A\\a.wav";
    t.schedule.dateRangeOn = dates;
    t.schedule.dateFrom = df;
    t.schedule.dateTo = dt;
    t.schedule.timeRangeOn = times;
    t.schedule.timeFrom = tf;
    t.schedule.timeTo = tt;
    return t;
}

Track Hours(int fromHour, int toHour) {
    return Scheduled(false, {}, {}, true, {fromHour, 0, 0}, {toHour, 0, 0});
}

// What playback would say, minute by minute.
std::vector<MinuteSpan> BruteForce(const std::vector<Track>& tracks, const LocalTime& day) {
    std::vector<MinuteSpan> gaps;
    for (int m = 0; m < kMinutesPerDay; ++m) {
        VirtualClock clock({day.year, day.month, day.day, m / 60, m % 60, 0});
        bool covered = false;
        for (const Track& t : tracks) covered = covered || t.schedule.IsActiveNow(clock);
        if (covered) continue;
        if (!gaps.empty() && gaps.back().last == m - 1)
            gaps.back().last = m;
        else
            gaps.push_back({m, m});
    }
    return gaps;
}

}  // namespace

TEST(Coverage, DaytimeAloneLeavesTheNightAndAnOverlappingNightTrackCoversIt) {
    std::vector<Track> tracks{Hours(9, 17)};
    const auto gaps = ScheduleCoverage(tracks).Uncovered({2026, 3, 4});
    // 09:00:00 to 17:00:00 inclusive: 17:00 itself is still covered.
    EXPECT_EQ(gaps, (std::vector<MinuteSpan>{{0, 9 * 60 - 1}, {17 * 60 + 1, kMinutesPerDay - 1}}));
    tracks.push_back(Hours(16, 10));
    for (const DayGaps& d : ScheduleCoverage(tracks).UncoveredDays({2026, 12, 30}, 5))
        EXPECT_TRUE(d.uncovered.empty()) << d.date.month << "-" << d.date.day;
}

TEST(Coverage, ADateRangeOverTheYearEndLeavesTheRestOfTheYear) {
    std::vector<Track> tracks{Scheduled(true, {2020, 12, 15}, {2020, 1, 15}, false, {}, {})};
    int uncoveredDays = 0;
    LocalTime firstGap{}, lastGap{};
    for (const DayGaps& d : ScheduleCoverage(tracks).UncoveredDays({2027, 1, 1}, 365)) {
        if (d.uncovered.empty()) continue;
        ASSERT_EQ(d.uncovered, (std::vector<MinuteSpan>{{0, kMinutesPerDay - 1}}));
        if (uncoveredDays++ == 0) firstGap = d.date;
        lastGap = d.date;
    }
    EXPECT_EQ(firstGap.month * 100 + firstGap.day, 116);
    EXPECT_EQ(lastGap.month * 100 + lastGap.day, 1214);
    EXPECT_EQ(uncoveredDays, 365 - 17 - 15);
}

TEST(Coverage, SummariesInPlainWords) {
    const LocalTime jan1{2027, 1, 1};
    auto summary = [&jan1](const std::vector<Track>& tracks) {
        return CoverageSummary(ScheduleCoverage(tracks).UncoveredDays(jan1, 365), true,
                               tracks.empty());
    };
    EXPECT_EQ(summary({Hours(9, 17)}), "No music after 17:00 until 09:00 every day");
    EXPECT_EQ(summary({Hours(9, 17), Hours(16, 10)}), "Music plays at every hour of the year");
    EXPECT_EQ(summary({Scheduled(true, {2020, 12, 15}, {2020, 1, 15}, false, {}, {})}),
              "No music from 16 January to 14 December");
    EXPECT_EQ(summary({}), "No music: the list is empty");
    EXPECT_EQ(
        summary({Scheduled(true, {2020, 12, 15}, {2020, 1, 15}, true, {8, 0, 0}, {18, 0, 0})}),
        "No music at 33 times in the year, the first on 1 January from 00:00 until 08:00");
    bool covered = true;
    const auto gaps = ScheduleCoverage({Hours(9, 17)}).UncoveredDays(jan1, 1);
    EXPECT_EQ(CoverageReport(gaps, gaps, covered),
              "2027-01-01  music: 00:00-09:00, 17:01-24:00  voice: 00:00-09:00, 17:01-24:00\n");
    EXPECT_FALSE(covered);
}

TEST(Coverage, NextCoveredMinuteWaitsForTheScheduleAndGivesUpWhenNothingEverPlays) {
    std::vector<Track> tracks{Hours(8, 12)};
    ScheduleCoverage coverage(tracks);
    LocalTime at;
    ASSERT_TRUE(coverage.NextCovered({2026, 5, 1, 22, 30, 15}, 2, at));
    EXPECT_EQ((std::vector<int>{at.month, at.day, at.hour, at.minute}),
              (std::vector<int>{5, 2, 8, 0}));
    ASSERT_TRUE(coverage.NextCovered({2026, 5, 1, 7, 0, 0}, 2, at));
    EXPECT_EQ(at.day * 10000 + at.hour * 100 + at.minute, 10800);
    // 31 April never comes.
    std::vector<Track> never{Scheduled(true, {2020, 4, 31}, {2020, 4, 31}, false, {}, {})};
    EXPECT_FALSE(ScheduleCoverage(never).NextCovered({2026, 5, 1, 7, 0, 0}, 400, at));
    EXPECT_FALSE(ScheduleCoverage({}).NextCovered({2026, 5, 1, 7, 0, 0}, 400, at));
}

// Random schedules of every shape, stored values out of range included, against
// the minute-by-minute answer; days around the year end and a leap day.
TEST(Coverage, RangesAgreeWithAMinuteByMinuteCheck) {
    std::mt19937 random(20261207);
    auto pick = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    const LocalTime days[] = {
        {2026, 12, 31}, {2027, 1, 1}, {2028, 2, 29}, {2026, 6, 15}, {2026, 3, 1}};
    for (int round = 0; round < 60; ++round) {
        std::vector<Track> tracks;
        const int count = pick(0, 4);
        for (int i = 0; i < count; ++i) {
            const bool odd = pick(0, 9) == 0;  // now and then a value no dialog writes
            tracks.push_back(Scheduled(
                pick(0, 1), {2026, pick(1, 12), pick(1, 31)}, {2026, pick(1, 12), pick(1, 31)},
                pick(0, 2) != 0, {pick(0, odd ? 30 : 23), pick(0, odd ? 99 : 59), pick(0, 59)},
                {pick(0, odd ? 30 : 23), pick(0, odd ? 99 : 59), pick(0, 59)}));
            if (pick(0, 5) == 0) tracks.back().schedule.timeTo = tracks.back().schedule.timeFrom;
        }
        ScheduleCoverage coverage(tracks);
        for (const LocalTime& day : days)
            ASSERT_EQ(coverage.Uncovered(day), BruteForce(tracks, day)) << "round " << round;
    }
}
