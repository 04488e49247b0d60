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

}  // namespace

LocalTime DayAfter(const LocalTime& day) {
    VirtualClock clock(StartOfDay(day));
    clock.AdvanceMs(int64_t{86400} * 1000);
    return clock.Now();
}

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
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.span.first < b.span.first; });
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

std::string DayText(const LocalTime& d) {
    static const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                              "May",       "June",     "July",     "August",
                                              "September", "October",  "November", "December"};
    return std::to_string(d.day) + " " + kMonthNames[(d.month + 11) % 12];
}

namespace {

std::string DateText(const LocalTime& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year % 10000, d.month % 100, d.day % 100);
    return text;
}

// An uncovered stretch across days: from (day, minute) to (day, minute), the end
// exclusive; midnight joins a gap at the end of a day to one at the start of the next.
struct Stretch {
    size_t firstDay, lastDay;
    int from, to;  // to: exclusive minute of lastDay, 1..1440
};

std::vector<Stretch> Stretches(const std::vector<DayGaps>& days) {
    std::vector<Stretch> out;
    for (size_t d = 0; d < days.size(); ++d)
        for (const MinuteSpan& g : days[d].uncovered) {
            if (!out.empty() && g.first == 0 && out.back().lastDay + 1 == d &&
                out.back().to == kMinutesPerDay) {
                out.back().lastDay = d;
                out.back().to = g.last + 1;
            } else {
                out.push_back({d, d, g.first, g.last + 1});
            }
        }
    return out;
}

// Where a gap starts, to the second: a range that ends at 17:00 plays through
// 17:00:00, so the minute 17:01 is the first one wholly silent but the silence
// starts just after 17:00.
std::string GapStart(int minute) {
    return minute == 0 ? "from 00:00" : "after " + MinuteText(minute - 1);
}

}  // namespace

std::string CoverageSummary(const std::vector<DayGaps>& days, bool isMusic, bool listEmpty) {
    const std::string what = isMusic ? "music" : "voice messages";
    if (listEmpty) return "No " + what + ": the list is empty";
    const std::vector<Stretch> stretches = Stretches(days);
    if (stretches.empty())
        return isMusic ? "Music plays at every hour of the year"
                       : "Voice messages play at every hour of the year";
    // The same hours every day (a stretch over midnight counts for the day it
    // starts on; the first day's early part is the previous night's end).
    bool daily = days.size() >= 2;
    for (size_t d = 1; d < days.size() && daily; ++d)
        daily = days[d].uncovered == days[0].uncovered;
    if (daily) {
        const auto& g = days[0].uncovered;
        if (g.size() == 1 && g[0].first == 0 && g[0].last == kMinutesPerDay - 1)
            return "No " + what + " at any time";
        // Over midnight, the gap ending each day runs on into the one starting the next.
        const bool overMidnight =
            g.size() == 2 && g[0].first == 0 && g[1].last == kMinutesPerDay - 1;
        if (g.size() == 1 || overMidnight)
            return "No " + what + " " + GapStart(g.back().first) + " until " + MinuteText(g[0].last + 1) +
                   " every day";
        return "No " + what + " at " + std::to_string(g.size()) + " times every day, the first " +
               GapStart(g[0].first) + " until " + MinuteText(g[0].last + 1);
    }
    const Stretch& s = stretches.front();
    const std::string firstDay = DayText(days[s.firstDay].date);
    const std::string lastDay = DayText(days[s.lastDay].date);
    std::string first;
    if (s.firstDay == s.lastDay)
        first = "on " + firstDay + " " + GapStart(s.from) + " until " + MinuteText(s.to);
    else if (s.from == 0 && s.to == kMinutesPerDay)
        first = "from " + firstDay + " to " + lastDay;  // whole days
    else
        first = (s.from == 0 ? "from " + firstDay + " 00:00" : "after " + firstDay + " " + MinuteText(s.from - 1)) +
                " until " + lastDay + " " + MinuteText(s.to);
    if (stretches.size() == 1) return "No " + what + " " + first;
    return "No " + what + " at " + std::to_string(stretches.size()) +
           " times in the year, the first " + first;
}

std::string CoverageReport(const std::vector<DayGaps>& music, const std::vector<DayGaps>& voice,
                           bool& covered) {
    covered = true;
    std::string out;
    auto gaps = [&covered](const std::vector<MinuteSpan>& g) {
        if (g.empty()) return std::string("covered");
        covered = false;
        std::string text;
        for (const MinuteSpan& span : g)
            text += (text.empty() ? "" : ", ") + MinuteText(span.first) + "-" +
                    MinuteText(span.last + 1);
        return text;
    };
    for (size_t d = 0; d < music.size() && d < voice.size(); ++d)
        out += DateText(music[d].date) + "  music: " + gaps(music[d].uncovered) +
               "  voice: " + gaps(voice[d].uncovered) + "\n";
    return out;
}

std::string MinuteText(int minute) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60 % 100, minute % 60);
    return text;
}

}  // namespace tw
