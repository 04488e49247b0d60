#pragma once

// When a track may play: an optional range of days of the year and an optional
// range of times of day. A plain value.

#include "Clock.h"
#include "DateOrTime.h"

namespace tw {

struct TrackSchedule {
    bool dateRangeOn = false;
    DateOrTime dateFrom;
    DateOrTime dateTo;
    bool timeRangeOn = false;
    DateOrTime timeFrom;
    DateOrTime timeTo;

    // Both ranges off, dates set to today and times to now.
    static TrackSchedule New(const Clock& clock);

    bool IsActiveNow(const Clock& clock) const;
    // In schedule now only because its time range ends at this very second: a
    // track is not started then, for it would play on past its end.
    bool EndsThisSecond(const Clock& clock) const;
    bool HasAnyRange() const { return dateRangeOn || timeRangeOn; }
    // Equal in every field, ranges that are off included (what "audio.cfg" keeps).
    bool operator==(const TrackSchedule&) const = default;
    // Equal as the schedule dialog sees it: a range that is off in both is not compared.
    bool SameAs(const TrackSchedule& other) const;
};

}  // namespace tw
