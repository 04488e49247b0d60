#include "DateOrTime.h"

namespace tw {

static int Cmp(int x, int y) {
    return x < y ? -1 : (x > y ? 1 : 0);
}

DateOrTime DateOrTime::Today(const Clock& clock) {
    LocalTime t = clock.Now();
    return {t.year, t.month, t.day};
}

DateOrTime DateOrTime::Now(const Clock& clock) {
    LocalTime t = clock.Now();
    return {t.hour, t.minute, t.second};
}

int DateOrTime::CompareDate(const DateOrTime& other, bool withYear) const {
    if (withYear && a_ != other.a_) return Cmp(a_, other.a_);
    if (b_ != other.b_) return Cmp(b_, other.b_);
    return Cmp(c_, other.c_);
}

int DateOrTime::CompareTime(const DateOrTime& other) const {
    if (a_ != other.a_) return Cmp(a_, other.a_);
    if (b_ != other.b_) return Cmp(b_, other.b_);
    return Cmp(c_, other.c_);
}

bool DateOrTime::InDateRange(const DateOrTime& from, const DateOrTime& to) const {
    const bool afterStart = CompareDate(from, false) >= 0;
    const bool beforeEnd = CompareDate(to, false) <= 0;
    if (from.CompareDate(to, false) <= 0) return afterStart && beforeEnd;
    return afterStart || beforeEnd;  // 15 December to 15 January
}

bool DateOrTime::InTimeRange(const DateOrTime& from, const DateOrTime& to) const {
    if (from.CompareTime(to) < 0) return CompareTime(from) >= 0 && CompareTime(to) <= 0;
    return CompareTime(to) <= 0 || CompareTime(from) >= 0;
}

}  // namespace tw
