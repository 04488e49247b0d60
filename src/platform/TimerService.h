#pragma once

// Window timers by id: Start restarts a running timer of that id, Stop ends it.
// Ticks are delivered to one handler on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Clock.h"

namespace tw {

class TimerService {
  public:
    using Handler = std::function<void(int id)>;
    virtual ~TimerService() = default;
    // Every service takes the period the same way: computed in 64 bits by the
    // caller and held to 1 ms .. 24 hours, so that a gap read from a file can never
    // overflow or be refused.
    void Start(int id, int64_t periodMs) { DoStart(id, BoundPeriod(periodMs)); }
    static int BoundPeriod(int64_t periodMs);
    virtual void Stop(int id) = 0;
    virtual bool IsRunning(int id) const = 0;
    // Milliseconds until the timer next fires; -1 when it does not run.
    virtual int64_t RemainingMs(int id) const = 0;
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // Runs `task` on the main thread, after what the loop is doing now. Any thread.
    virtual void PostTask(std::function<void()> task) = 0;
    // The same, but the task is dropped when `owner` is gone by the time it would
    // run: how a worker hands a result back to an object that may have been closed.
    // Owners are destroyed on the main thread, where the task runs, so the check
    // cannot race.
    void PostTaskWhileAlive(std::weak_ptr<const void> owner, std::function<void()> task) {
        PostTask([owner = std::move(owner), task = std::move(task)] {
            if (!owner.expired()) task();
        });
    }

  protected:
    virtual void DoStart(int id, int periodMs) = 0;
    void Fire(int id) {
        if (handler_) handler_(id);
    }

  private:
    Handler handler_;
};

// Timers on the virtual clock. Advancing fires due timers in time order (timers
// due at the same moment in the order they were started), each again after its
// period; a timer started inside a tick counts from that moment.
class VirtualTimerService : public TimerService {
  public:
    explicit VirtualTimerService(VirtualClock& clock) : clock_(clock) {}
    void Stop(int id) override;
    bool IsRunning(int id) const override { return timers_.count(id) != 0; }
    int64_t RemainingMs(int id) const override;
    // Posted tasks run at the next FireDue or Advance, before the timers that are due.
    void PostTask(std::function<void()> task) override;

    // The virtual time of the next due tick, if any timer runs.
    std::optional<int64_t> NextDueMs() const;
    // Fires every timer due at or before the clock's present time.
    void FireDue();
    // Moves the clock forward by ms, firing each timer at its due time.
    void Advance(int64_t ms);

  protected:
    void DoStart(int id, int periodMs) override;

  private:
    struct Timer {
        int periodMs;
        int64_t dueMs;
        uint64_t sequence;
    };
    std::optional<int> NextDueId() const;
    void RunPosted();

    VirtualClock& clock_;
    std::map<int, Timer> timers_;
    std::mutex postedLock_;
    std::vector<std::function<void()>> posted_;
    uint64_t sequence_ = 0;
};

}  // namespace tw
