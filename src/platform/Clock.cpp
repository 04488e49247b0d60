#include "Clock.h"

#include <cstdio>
#include <ctime>

namespace tw {

LocalTime SystemClock::Now() const {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

static int64_t ToSeconds(const LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return static_cast<int64_t>(timegm(&tm));
}

VirtualClock::VirtualClock(const LocalTime& start) {
    Set(start);
}

void VirtualClock::Set(const LocalTime& start) {
    startSeconds_ = ToSeconds(start);
    elapsedMs_ = 0;
}

LocalTime VirtualClock::Now() const {
    std::time_t t = static_cast<std::time_t>(startSeconds_ + elapsedMs_ / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

bool ParseLocalTime(const std::string& text, LocalTime& out) {
    LocalTime t;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &tail) != 6)
        return false;
    if (!IsRealLocalTime(t)) return false;
    out = t;
    return true;
}

bool IsRealLocalTime(const LocalTime& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59 || t.year < 1970)
        return false;
    // Reject dates such as 31 April, which timegm would roll into May.
    std::time_t s = static_cast<std::time_t>(ToSeconds(t));
    std::tm back{};
    gmtime_r(&s, &back);
    return back.tm_mday == t.day && back.tm_mon + 1 == t.month;
}

}  // namespace tw
