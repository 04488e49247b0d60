#pragma once

// Sums every playing buffer into 32-bit float stereo at the output rate.
//
// Threads: Render runs on the audio thread (or the caller's, for tests and the
// render mode). Add and Remove run on the main thread and hold the lock only to
// insert or erase one pointer; Render holds it while it mixes.

#include <functional>
#include <array>
#include <mutex>
#include <vector>

namespace tw {

class SoundBuffer;

class MixTap;

class Mixer {
  public:
    explicit Mixer(int outputRate);
    int outputRate() const { return outputRate_; }
    // Fills frames x 2 floats; the sum is clipped to [-1, 1].
    void Render(float* out, int frames);
    // Frames of one gain ramp: 5 ms.
    int rampFrames() const { return outputRate_ / 200; }
    // No buffer is playing.
    bool IsIdle();
    // Called (on the main thread) each time a buffer starts to play.
    void SetOnStart(std::function<void()> onStart);
    // Someone listening in, or another output, gets a copy of every rendered
    // block; at most four of each at once (false when there is no room). Once
    // RemoveTap returns, the tap is no longer written.
    bool AddTap(MixTap* tap, bool output = false);
    void RemoveTap(MixTap* tap);

  private:
    friend class SoundBuffer;
    void Add(SoundBuffer* buffer);
    void Remove(SoundBuffer* buffer);

    int outputRate_;
    std::mutex lock_;
    std::vector<SoundBuffer*> playing_;
    std::function<void()> onStart_;
    std::array<MixTap*, 8> taps_{};
};

}  // namespace tw
