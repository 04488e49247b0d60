#pragma once

// Three integers read as a date (year, month, day) or a time of day
// (hour, minute, second).

#include "Clock.h"

namespace tw {

class DateOrTime {
  public:
    DateOrTime() = default;
    DateOrTime(int a, int b, int c) : a_(a), b_(b), c_(c) {}

    static DateOrTime Today(const Clock& clock);
    static DateOrTime Now(const Clock& clock);

    void Set(int a, int b, int c) {
        a_ = a;
        b_ = b;
        c_ = c;
    }
    int First() const { return a_; }
    int Second() const { return b_; }
    int Third() const { return c_; }

    // Three-way: negative, 0 or positive.
    int CompareDate(const DateOrTime& other, bool withYear) const;
    int CompareTime(const DateOrTime& other) const;

    // Month and day between from and to, both inclusive, years ignored. A range
    // whose end comes before its start in the calendar year wraps over New Year.
    bool InDateRange(const DateOrTime& from, const DateOrTime& to) const;
    // Inclusive; a range whose start is not before its end crosses midnight, and
    // a range whose ends are equal passes all day.
    bool InTimeRange(const DateOrTime& from, const DateOrTime& to) const;

    bool operator==(const DateOrTime&) const = default;

  private:
    int a_ = 0, b_ = 0, c_ = 0;
};

}  // namespace tw
