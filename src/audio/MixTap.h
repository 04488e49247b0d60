#pragma once

// A copy of the finished mix for someone listening in (the web console's live
// stream): a fixed ring of stereo frames that the audio thread fills without
// allocating, locking or waiting, and one reader empties. When the reader falls
// behind, the newest audio is dropped, never the audio thread's time.
//
// Threads: Write from the audio thread (under the mixer's lock), Read from one
// reader thread.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace tw {

class MixTap {
  public:
    explicit MixTap(size_t frames) : ring_(2 * frames) {}
    // `frames` stereo frames; those that do not fit are dropped.
    void Write(const float* stereo, int frames) {
        const size_t size = ring_.size();
        const size_t w = write_.load(std::memory_order_relaxed);
        const size_t r = read_.load(std::memory_order_acquire);
        const size_t room = size - (w - r);
        const size_t n = std::min(room, 2 * static_cast<size_t>(frames));
        for (size_t i = 0; i < n; ++i) ring_[(w + i) % size] = stereo[i];
        write_.store(w + n, std::memory_order_release);
    }
    // Up to `frames` stereo frames into `out`; how many.
    int Read(float* out, int frames) {
        const size_t size = ring_.size();
        const size_t r = read_.load(std::memory_order_relaxed);
        const size_t w = write_.load(std::memory_order_acquire);
        const size_t n = std::min(w - r, 2 * static_cast<size_t>(frames)) & ~size_t{1};
        for (size_t i = 0; i < n; ++i) out[i] = ring_[(r + i) % size];
        read_.store(r + n, std::memory_order_release);
        return static_cast<int>(n / 2);
    }

  private:
    std::vector<float> ring_;
    std::atomic<size_t> write_{0};
    std::atomic<size_t> read_{0};
};

}  // namespace tw
