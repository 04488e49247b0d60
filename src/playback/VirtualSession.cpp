#include "VirtualSession.h"

#include <algorithm>

namespace tw {

VirtualSession::VirtualSession(const LocalTime& start, MessageBox& boxes, PlayerView& view,
                               int rate, bool startAlways, bool backgroundPreload)
    : clock_(start), timers_(clock_), rate_(rate), mix_(2 * 4096) {
    OnHoldPlayer::Options options;
    options.output = OutputMode::Direct;
    options.directRate = rate;
    options.startAlways = startAlways;
    options.backgroundPreload = backgroundPreload;
    player_ = std::make_unique<OnHoldPlayer>(clock_, timers_, boxes, view, options);
}

void VirtualSession::Run(int64_t ms, const Sink& sink) {
    const int64_t endMs = clock_.ElapsedMs() + ms;
    auto frameAt = [this](int64_t t) { return t * rate_ / 1000; };
    for (;;) {
        const int64_t now = clock_.ElapsedMs();
        const int64_t next = std::min(timers_.NextDueMs().value_or(endMs), endMs);
        Mixer* mixer = player_->device() ? &player_->device()->mixer() : nullptr;
        for (int64_t left = frameAt(next) - frameAt(now); left > 0;) {
            const int n = static_cast<int>(std::min<int64_t>(left, 4096));
            if (mixer)
                mixer->Render(mix_.data(), n);
            else
                std::fill(mix_.begin(), mix_.begin() + 2 * n, 0.0f);
            if (sink) sink(mix_.data(), n);
            left -= n;
        }
        clock_.SetElapsedMs(next);
        if (next >= endMs) break;
        timers_.FireDue();
    }
}

}  // namespace tw
