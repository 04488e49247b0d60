#include "TrackSchedule.h"

namespace tw {

TrackSchedule TrackSchedule::New(const Clock& clock) {
    TrackSchedule s;
    s.dateFrom = s.dateTo = DateOrTime::Today(clock);
    s.timeFrom = s.timeTo = DateOrTime::Now(clock);
    return s;
}

bool TrackSchedule::IsActiveNow(const Clock& clock) const {
    if (dateRangeOn && !DateOrTime::Today(clock).InDateRange(dateFrom, dateTo)) return false;
    if (timeRangeOn && !DateOrTime::Now(clock).InTimeRange(timeFrom, timeTo)) return false;
    return true;
}

bool TrackSchedule::EndsThisSecond(const Clock& clock) const {
    return timeRangeOn && timeFrom.CompareTime(timeTo) != 0 &&
           DateOrTime::Now(clock).CompareTime(timeTo) == 0;
}

bool TrackSchedule::SameAs(const TrackSchedule& o) const {
    if (dateRangeOn != o.dateRangeOn) return false;
    if (dateRangeOn && o.dateRangeOn &&
        (dateFrom.CompareDate(o.dateFrom, true) != 0 || dateTo.CompareDate(o.dateTo, true) != 0))
        return false;
    if (timeRangeOn != o.timeRangeOn) return false;
    if (timeRangeOn && o.timeRangeOn &&
        (timeFrom.CompareTime(o.timeFrom) != 0 || timeTo.CompareTime(o.timeTo) != 0))
        return false;
    return true;
}

}  // namespace tw
