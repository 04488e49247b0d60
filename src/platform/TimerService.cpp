#include "TimerService.h"

#include <algorithm>

namespace tw {

int TimerService::BoundPeriod(int64_t periodMs) {
    constexpr int64_t kDay = int64_t{86400} * 1000;
    return static_cast<int>(std::clamp<int64_t>(periodMs, 1, kDay));
}

void VirtualTimerService::DoStart(int id, int periodMs) {
    timers_[id] = Timer{periodMs, clock_.ElapsedMs() + periodMs, sequence_++};
}

int64_t VirtualTimerService::RemainingMs(int id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? -1 : std::max<int64_t>(0, it->second.dueMs - clock_.ElapsedMs());
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

void VirtualTimerService::PostTask(std::function<void()> task) {
    std::lock_guard<std::mutex> hold(postedLock_);
    posted_.push_back(std::move(task));
}

void VirtualTimerService::RunPosted() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> hold(postedLock_);
        tasks.swap(posted_);
    }
    for (auto& task : tasks) task();
}

void VirtualTimerService::FireDue() {
    RunPosted();
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
    RunPosted();
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
