#pragma once

// Window timers by id: Start restarts a running timer of that id, Stop ends it.
// Ticks are delivered to one handler on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "Clock.h"

namespace tw {

class TimerService {
  public:
    using Handler = std::function<void(int id)>;
    virtual ~TimerService() = default;
    virtual void Start(int id, int periodMs) = 0;
    virtual void Stop(int id) = 0;
    virtual bool IsRunning(int id) const = 0;
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

  protected:
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
    void Start(int id, int periodMs) override;
    void Stop(int id) override;
    bool IsRunning(int id) const override { return timers_.count(id) != 0; }

    // The virtual time of the next due tick, if any timer runs.
    std::optional<int64_t> NextDueMs() const;
    // Fires every timer due at or before the clock's present time.
    void FireDue();
    // Moves the clock forward by ms, firing each timer at its due time.
    void Advance(int64_t ms);

  private:
    struct Timer {
        int periodMs;
        int64_t dueMs;
        uint64_t sequence;
    };
    std::optional<int> NextDueId() const;

    VirtualClock& clock_;
    std::map<int, Timer> timers_;
    uint64_t sequence_ = 0;
};

}  // namespace tw
