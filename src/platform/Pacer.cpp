#include "Pacer.h"

#include <thread>

namespace tw {

long long Pacer::Wait() {
    next_ += period_;
    const auto now = Clock::now();
    long long skipped = 0;
    if (next_ + mostLate_ < now) {
        skipped = (now - next_) / period_;
        next_ += skipped * period_;
    }
    // Behind by less: one block now, the next a quarter period later.
    const auto wake = next_ >= now ? next_ : now + period_ / 4;
    std::this_thread::sleep_until(wake);
    return skipped;
}

}  // namespace tw
