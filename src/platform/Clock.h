#pragma once

// The local date and time. The real clock reads the system; the virtual clock is
// set and advanced by a test or a render run. Main thread only.

#include <cstdint>
#include <string>

namespace tw {

struct LocalTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;
};

class SystemClock : public Clock {
  public:
    LocalTime Now() const override;
};

// Calendar arithmetic is done without time zones or daylight saving, so a given
// start always yields the same sequence of local times.
class VirtualClock : public Clock {
  public:
    explicit VirtualClock(const LocalTime& start = LocalTime{});
    LocalTime Now() const override;
    void Set(const LocalTime& start);  // elapsed time back to 0
    void AdvanceMs(int64_t ms) { elapsedMs_ += ms; }
    void SetElapsedMs(int64_t ms) { elapsedMs_ = ms; }
    int64_t ElapsedMs() const { return elapsedMs_; }

  private:
    int64_t startSeconds_ = 0;
    int64_t elapsedMs_ = 0;
};

// Reads "YYYY-MM-DD HH:MM:SS"; false for anything else or an impossible date.
bool ParseLocalTime(const std::string& text, LocalTime& out);

// Whether a date and time exist: a year from 1970, no 31 April, no 25:00.
bool IsRealLocalTime(const LocalTime& t);

}  // namespace tw
