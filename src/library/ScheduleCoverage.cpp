#include "ScheduleCoverage.h"

#include <algorithm>
#include <cstdio>

namespace tw {
namespace {

DateOrTime MinuteTime(int minute) {
    return {minute / 60, minute % 60, 0};
}

// The first minute whose time compares to `t` at least as `atLeast` (0: at or
// after it, 1: after it); kMinutesPerDay when none. Times are compared field by
// field, as playback compares them, so stored values out of their usual range
// (minute 75) give the same answer as there.
int FirstMinute(const DateOrTime& t, int atLeast) {
    int lo = 0, hi = kMinutesPerDay;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (MinuteTime(mid).CompareTime(t) >= atLeast)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

bool DayInSchedule(const TrackSchedule& s, const LocalTime& day) {
    return !s.dateRangeOn ||
           DateOrTime(day.year, day.month, day.day).InDateRange(s.dateFrom, s.dateTo);
}

LocalTime StartOfDay(const LocalTime& t) {
    return {t.year, t.month, t.day, 0, 0, 0};
}

LocalTime DayAfter(const LocalTime& day) {
    VirtualClock clock(StartOfDay(day));
    clock.AdvanceMs(int64_t{86400} * 1000);
    return clock.Now();
}

}  // namespace

std::vector<MinuteSpan> MinutesInTimeRange(const TrackSchedule& s) {
    if (!s.timeRangeOn) return {{0, kMinutesPerDay - 1}};
    std::vector<MinuteSpan> spans;
    const int fromMinute = FirstMinute(s.timeFrom, 0);
    const int toMinute = FirstMinute(s.timeTo, 1) - 1;
    auto add = [&spans](int first, int last) {
        if (first <= last) spans.push_back({first, last});
    };
    if (s.timeFrom.CompareTime(s.timeTo) < 0) {
        add(fromMinute, toMinute);
    } else {  // over midnight, or all day when both ends are equal
        add(0, toMinute);
        add(fromMinute, kMinutesPerDay - 1);
        if (spans.size() == 2 && spans[0].last + 1 >= spans[1].first)
            spans = {{0, kMinutesPerDay - 1}};
    }
    return spans;
}

ScheduleCoverage::ScheduleCoverage(const std::vector<Track>& tracks) {
    for (const Track& t : tracks)
        for (const MinuteSpan& span : MinutesInTimeRange(t.schedule))
            entries_.push_back({t.schedule, span});
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.span.first < b.span.first;
    });
}

std::vector<MinuteSpan> ScheduleCoverage::Uncovered(const LocalTime& day) const {
    // Walk the spans in order of their start, keeping the first minute not yet
    // covered; whatever lies before the next span that holds this day is a gap.
    std::vector<MinuteSpan> gaps;
    int next = 0;
    for (const Entry& e : entries_) {
        if (next >= kMinutesPerDay) break;
        if (e.span.last < next || !DayInSchedule(e.schedule, day)) continue;
        if (e.span.first > next) gaps.push_back({next, e.span.first - 1});
        next = e.span.last + 1;
    }
    if (next < kMinutesPerDay) gaps.push_back({next, kMinutesPerDay - 1});
    return gaps;
}

std::vector<DayGaps> ScheduleCoverage::UncoveredDays(const LocalTime& from, int days) const {
    std::vector<DayGaps> out;
    LocalTime day = StartOfDay(from);
    for (int i = 0; i < days; ++i, day = DayAfter(day)) out.push_back({day, Uncovered(day)});
    return out;
}

bool ScheduleCoverage::NextCovered(const LocalTime& now, int days, LocalTime& at) const {
    LocalTime day = StartOfDay(now);
    int minute = now.hour * 60 + now.minute + (now.second > 0 ? 1 : 0);
    for (int i = 0; i <= days; ++i, day = DayAfter(day), minute = 0) {
        // The first covered minute at or after `minute` is just past a gap, or
        // `minute` itself when no gap holds it.
        int candidate = minute;
        for (const MinuteSpan& gap : Uncovered(day))
            if (gap.first <= candidate && candidate <= gap.last) candidate = gap.last + 1;
        if (candidate < kMinutesPerDay) {
            at = day;
            at.hour = candidate / 60;
            at.minute = candidate % 60;
            return true;
        }
    }
    return false;
}

std::string MinuteText(int minute) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60 % 100, minute % 60);
    return text;
}

}  // namespace tw
