#pragma once

// Loudness measured one sound after another on a thread of its own, beside the
// preload reads, so that a long track's pass never holds up another track's
// preload. Each result comes back on the main thread, through the timer service's
// posted tasks, and only while its sound is still loaded and the measurer is
// still there. Made and used on the main thread.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "Loudness.h"
#include "MessageThread.h"
#include "SoundStream.h"
#include "TimerService.h"

namespace tw {

class MeasuringThread {
  public:
    using Done = std::function<void(const std::shared_ptr<SoundStream>& stream, int gain)>;

    MeasuringThread(std::shared_ptr<Leveller> leveller, TimerService& timers);
    ~MeasuringThread();  // a pass under way gives up at its next block; no result comes

    // The gain for the file at `path` (from the cache, or one pass over it), given
    // to `done` with the stream it was asked for.
    void Measure(const std::string& path, bool isMusic, const std::shared_ptr<SoundStream>& stream,
                 Done done);

  private:
    std::shared_ptr<Leveller> leveller_;
    TimerService& timers_;
    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();
    std::shared_ptr<std::atomic<bool>> going_ = std::make_shared<std::atomic<bool>>(true);
    MessageThread thread_;  // last: gone first
};

}  // namespace tw
