#pragma once

// The player on a virtual clock with no sound output: timers fire at their
// virtual moments and the mixer renders exactly the frames that elapse between
// them. The render mode writes those frames to a file; tests examine them.
// Runs in the current working folder. Main thread only.

#include <functional>
#include <memory>

#include "Clock.h"
#include "OnHoldPlayer.h"
#include "TimerService.h"

namespace tw {

class VirtualSession {
  public:
    using Sink = std::function<void(const float* stereo, int frames)>;

    // Builds the player (reading the working folder's files); Initialise is the
    // caller's, so that it can look before the first step.
    // `backgroundPreload`: sounds are read on the player's worker thread, and their
    // results arrive at a later step, as in a real-time run.
    VirtualSession(const LocalTime& start, MessageBox& boxes, PlayerView& view, int rate = 44100,
                   bool startAlways = true, bool backgroundPreload = false);
    OnHoldPlayer& player() { return *player_; }
    VirtualClock& clock() { return clock_; }
    VirtualTimerService& timers() { return timers_; }

    // Moves virtual time forward by `ms`.
    void Run(int64_t ms, const Sink& sink = {});

  private:
    VirtualClock clock_;
    VirtualTimerService timers_;
    int rate_;
    std::unique_ptr<OnHoldPlayer> player_;
    std::vector<float> mix_;
};

}  // namespace tw
