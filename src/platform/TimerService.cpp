#include "TimerService.h"

#include <algorithm>

namespace tw {

void VirtualTimerService::Start(int id, int periodMs) {
    periodMs = std::max(periodMs, 1);
    timers_[id] = Timer{periodMs, clock_.ElapsedMs() + periodMs, sequence_++};
}

void VirtualTimerService::Stop(int id) {
    timers_.erase(id);
}

std::optional<int> VirtualTimerService::NextDueId() const {
    std::optional<int> best;
    for (const auto& [id, t] : timers_) {
        if (!best) {
            best = id;
            continue;
        }
        const Timer& b = timers_.at(*best);
        if (t.dueMs < b.dueMs || (t.dueMs == b.dueMs && t.sequence < b.sequence)) best = id;
    }
    return best;
}

std::optional<int64_t> VirtualTimerService::NextDueMs() const {
    auto id = NextDueId();
    if (!id) return std::nullopt;
    return timers_.at(*id).dueMs;
}

void VirtualTimerService::FireDue() {
    const int64_t now = clock_.ElapsedMs();
    for (;;) {
        auto id = NextDueId();
        if (!id) return;
        Timer& t = timers_.at(*id);
        if (t.dueMs > now) return;
        // Reschedule before the tick so that a Start or Stop inside it wins.
        t.dueMs += t.periodMs;
        t.sequence = sequence_++;
        Fire(*id);
    }
}

void VirtualTimerService::Advance(int64_t ms) {
    const int64_t end = clock_.ElapsedMs() + ms;
    for (;;) {
        auto due = NextDueMs();
        if (!due || *due > end) break;
        clock_.SetElapsedMs(std::max(*due, clock_.ElapsedMs()));
        FireDue();
    }
    clock_.SetElapsedMs(end);
}

}  // namespace tw
