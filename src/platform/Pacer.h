#pragma once

// Wakes one thread on absolute deadlines of the monotonic clock, one period apart,
// so that blocks of sound (or packets) leave at a steady rate that does not drift
// over hours. After a late wake-up the missed blocks are caught up one at a time,
// a quarter period apart, never in a burst; a thread more than `mostLate` behind
// (a stopped machine, a debugger) starts over from now and is told how many
// periods it skipped.
//
// Threads: the one thread that waits.

#include <chrono>

namespace tw {

class Pacer {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Pacer(std::chrono::nanoseconds period,
                   std::chrono::nanoseconds mostLate = std::chrono::milliseconds(200))
        : period_(period), mostLate_(mostLate), next_(Clock::now()) {}
    // Sleeps until the next block is due; the number of periods skipped (0 nearly
    // always).
    long long Wait();
    std::chrono::nanoseconds period() const { return period_; }
    // Starts the deadlines again from now.
    void Restart() { next_ = Clock::now(); }

  private:
    const std::chrono::nanoseconds period_;
    const std::chrono::nanoseconds mostLate_;
    Clock::time_point next_;
};

}  // namespace tw
