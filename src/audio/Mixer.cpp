#include "Mixer.h"

#include <algorithm>

#include "MixTap.h"
#include "SoundBuffer.h"

namespace tw {

Mixer::Mixer(int outputRate) : outputRate_(outputRate) {
    playing_.reserve(64);
}

void Mixer::Add(SoundBuffer* buffer) {
    std::function<void()> onStart;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (std::find(playing_.begin(), playing_.end(), buffer) == playing_.end())
            playing_.push_back(buffer);
        onStart = onStart_;
    }
    if (onStart) onStart();
}

bool Mixer::IsIdle() {
    std::lock_guard<std::mutex> hold(lock_);
    return playing_.empty();
}

void Mixer::SetOnStart(std::function<void()> onStart) {
    std::lock_guard<std::mutex> hold(lock_);
    onStart_ = std::move(onStart);
}

void Mixer::Remove(SoundBuffer* buffer) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = std::find(playing_.begin(), playing_.end(), buffer);
    if (it != playing_.end()) playing_.erase(it);
}

void Mixer::Render(float* out, int frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < playing_.size();) {
        if (playing_[i]->MixInto(out, frames)) {
            ++i;
        } else {
            // Played to its end: leave the set without allocating.
            playing_.erase(playing_.begin() + static_cast<long>(i));
        }
    }
    // Written so that NaN, for which every comparison is false, leaves as 0.
    for (int i = 0; i < 2 * frames; ++i) {
        const float v = out[i];
        out[i] = v >= -1.0f ? (v <= 1.0f ? v : 1.0f) : (v < -1.0f ? -1.0f : 0.0f);
    }
    for (MixTap* tap : taps_)
        if (tap) tap->Write(out, frames);
}

bool Mixer::AddTap(MixTap* tap, bool output) {
    std::lock_guard<std::mutex> hold(lock_);
    // Listeners have four slots, outputs the other four: a full house of
    // listeners never keeps an output from starting.
    const size_t first = output ? 4 : 0;
    for (size_t i = first; i < first + 4; ++i)
        if (!taps_[i]) {
            taps_[i] = tap;
            return true;
        }
    return false;
}

void Mixer::RemoveTap(MixTap* tap) {
    std::lock_guard<std::mutex> hold(lock_);
    for (MixTap*& slot : taps_)
        if (slot == tap) slot = nullptr;
}

}  // namespace tw
