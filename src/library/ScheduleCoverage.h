#pragma once

// Which minutes of which days a list of tracks leaves with nothing in schedule.
// A minute is covered when some track is in schedule at its first second, exactly
// as playback asks it (TrackSchedule::IsActiveNow). Worked out by ranges: the
// minutes a time range lets through are one or two spans found once per track,
// and each day only asks which tracks' date ranges hold it, so a year of a long
// list takes milliseconds. Any thread; holds a copy of the schedules.

#include <string>
#include <vector>

#include "Clock.h"
#include "TrackList.h"

namespace tw {

constexpr int kMinutesPerDay = 24 * 60;

struct MinuteSpan {
    int first = 0;  // minutes after midnight, both ends included
    int last = 0;
    bool operator==(const MinuteSpan&) const = default;
};

struct DayGaps {
    LocalTime date;                     // the day (time fields 0)
    std::vector<MinuteSpan> uncovered;  // in order; empty when the day is covered
};

// The minutes of a day (at second 0) that the schedule's time range lets through,
// in one or two spans; the whole day when the range is off.
std::vector<MinuteSpan> MinutesInTimeRange(const TrackSchedule& schedule);

class ScheduleCoverage {
  public:
    explicit ScheduleCoverage(const std::vector<Track>& tracks);

    // The uncovered minutes of one day.
    std::vector<MinuteSpan> Uncovered(const LocalTime& day) const;
    // `days` days from the date of `from`, each with its uncovered minutes.
    std::vector<DayGaps> UncoveredDays(const LocalTime& from, int days) const;
    // The first covered minute at or after `now`, looking up to `days` days ahead.
    bool NextCovered(const LocalTime& now, int days, LocalTime& at) const;

  private:
    struct Entry {
        TrackSchedule schedule;
        MinuteSpan span;
    };
    std::vector<Entry> entries_;  // one per span, sorted by where it starts
};

// The start of the day after `day`.
LocalTime DayAfter(const LocalTime& day);
// "16 January".
std::string DayText(const LocalTime& day);

// "HH:MM" for a minute of the day (1440 is "24:00").
std::string MinuteText(int minute);

// One line in plain words on what a list leaves uncovered in the `days` days from
// `from`: "Music plays at every hour of the year", "No music from 22:00 to 06:00
// every day", "No music from 16 January to 14 December", or the first of many gaps
// (for voice: "Voice messages play ...", "No voice messages ...").
std::string CoverageSummary(const std::vector<DayGaps>& days, bool isMusic, bool listEmpty);

// The report of --coverage: each day of the period with its uncovered intervals
// (ends exclusive), for music and voice. `covered` tells whether nothing was left.
std::string CoverageReport(const std::vector<DayGaps>& music, const std::vector<DayGaps>& voice,
                           bool& covered);

}  // namespace tw
