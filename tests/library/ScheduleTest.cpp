#include <gtest/gtest.h>

#include "TrackSchedule.h"

using namespace tw;

namespace {

bool ActiveAt(const TrackSchedule& s, LocalTime t) {
    VirtualClock clock(t);
    return s.IsActiveNow(clock);
}

TrackSchedule Dates(int fm, int fd, int tm, int td, int fy = 2008, int ty = 2008) {
    TrackSchedule s;
    s.dateRangeOn = true;
    s.dateFrom = {fy, fm, fd};
    s.dateTo = {ty, tm, td};
    return s;
}

TrackSchedule Times(int fh, int fm, int fs, int th, int tm, int ts) {
    TrackSchedule s;
    s.timeRangeOn = true;
    s.timeFrom = {fh, fm, fs};
    s.timeTo = {th, tm, ts};
    return s;
}

TEST(Schedule, DateRangeIsInclusiveAndIgnoresYears) {
    TrackSchedule march = Dates(3, 1, 3, 31);
    for (int year : {2008, 2024, 2026}) {
        EXPECT_TRUE(ActiveAt(march, {year, 3, 1, 0, 0, 0}));
        EXPECT_TRUE(ActiveAt(march, {year, 3, 31, 23, 59, 59}));
        EXPECT_FALSE(ActiveAt(march, {year, 2, 28, 12, 0, 0}));
        EXPECT_FALSE(ActiveAt(march, {year, 4, 1, 0, 0, 0}));
    }
    EXPECT_TRUE(ActiveAt(Dates(6, 10, 6, 20, 2007, 2005), {2026, 6, 15, 0, 0, 0}));
}

TEST(Schedule, DateRangeOverNewYearWraps) {
    TrackSchedule s = Dates(12, 15, 1, 15, 2026, 2027);
    EXPECT_TRUE(ActiveAt(s, {2026, 12, 15, 0, 0, 0}));
    EXPECT_TRUE(ActiveAt(s, {2026, 12, 31, 23, 59, 59}));
    EXPECT_TRUE(ActiveAt(s, {2030, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(ActiveAt(s, {2030, 1, 15, 0, 0, 0}));
    EXPECT_FALSE(ActiveAt(s, {2030, 1, 16, 0, 0, 0}));
    EXPECT_FALSE(ActiveAt(s, {2030, 12, 14, 0, 0, 0}));
    EXPECT_FALSE(ActiveAt(s, {2030, 7, 1, 0, 0, 0}));
}

TEST(Schedule, TimeRangesIncludingMidnightAndAllDay) {
    TrackSchedule office = Times(9, 0, 0, 17, 0, 0);
    EXPECT_TRUE(ActiveAt(office, {2026, 5, 5, 9, 0, 0}));
    EXPECT_TRUE(ActiveAt(office, {2026, 5, 5, 17, 0, 0}));
    EXPECT_FALSE(ActiveAt(office, {2026, 5, 5, 8, 59, 59}));
    EXPECT_FALSE(ActiveAt(office, {2026, 5, 5, 17, 0, 1}));

    TrackSchedule night = Times(22, 0, 0, 6, 0, 0);
    EXPECT_TRUE(ActiveAt(night, {2026, 5, 5, 23, 30, 0}));
    EXPECT_TRUE(ActiveAt(night, {2026, 5, 5, 0, 0, 0}));
    EXPECT_TRUE(ActiveAt(night, {2026, 5, 5, 6, 0, 0}));
    EXPECT_FALSE(ActiveAt(night, {2026, 5, 5, 6, 0, 1}));
    EXPECT_FALSE(ActiveAt(night, {2026, 5, 5, 12, 0, 0}));

    TrackSchedule allDay = Times(14, 15, 30, 14, 15, 30);
    for (int h : {0, 7, 14, 23}) EXPECT_TRUE(ActiveAt(allDay, {2026, 5, 5, h, 59, 59}));
}

TEST(Schedule, BothRangesMustPass) {
    TrackSchedule s = Dates(3, 1, 3, 31);
    s.timeRangeOn = true;
    s.timeFrom = {9, 0, 0};
    s.timeTo = {17, 0, 0};
    EXPECT_TRUE(ActiveAt(s, {2026, 3, 10, 10, 0, 0}));
    EXPECT_FALSE(ActiveAt(s, {2026, 3, 10, 18, 0, 0}));
    EXPECT_FALSE(ActiveAt(s, {2026, 4, 10, 10, 0, 0}));
    EXPECT_TRUE(ActiveAt(TrackSchedule{}, {2026, 4, 10, 10, 0, 0}));
}

TEST(Schedule, NewScheduleAndSameAs) {
    VirtualClock clock({2026, 12, 7, 9, 30, 15});
    TrackSchedule a = TrackSchedule::New(clock);
    EXPECT_FALSE(a.HasAnyRange());
    EXPECT_EQ(a.dateFrom, DateOrTime(2026, 12, 7));
    EXPECT_EQ(a.timeTo, DateOrTime(9, 30, 15));

    TrackSchedule b;  // both off, other stored values
    EXPECT_TRUE(a.SameAs(b));
    TrackSchedule d1 = Dates(3, 1, 3, 31, 2008), d2 = Dates(3, 1, 3, 31, 2009);
    EXPECT_FALSE(d1.SameAs(d2));  // years count here
    EXPECT_TRUE(d1.SameAs(Dates(3, 1, 3, 31, 2008)));
    EXPECT_FALSE(d1.SameAs(b));
    TrackSchedule t1 = Times(9, 0, 0, 17, 0, 0), t2 = Times(9, 0, 1, 17, 0, 0);
    EXPECT_FALSE(t1.SameAs(t2));
    EXPECT_TRUE(t1.HasAnyRange());
}

}  // namespace
