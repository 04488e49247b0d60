#pragma once

// One output among several that play the same mix: a pipe, a stream, RTP beside a
// sound card or beside each other. The audio thread only copies each rendered
// block into this output's lock-free ring (a MixTap); a thread of its own turns
// the copy into its sink's rate and hands it on in the sink's blocks, on the
// deadlines of the monotonic clock. So an output that stalls or fails loses only
// its own audio, and never delays the audio thread or another output.
//
// Whatever drives the mix (a sound card has a clock of its own) runs a little
// faster or slower than the monotonic clock: the audio waiting here is held
// between bounds by dropping or repeating one short block (5 ms) at a time,
// counted. When the mix stops coming (a paused player lets the card rest), the
// sink gets silence, so a stream never stops.
//
// Threads: construction, Start and destruction on the main thread; the figures
// and State from any thread.

#include <soxr.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MixTap.h"

namespace tw {

class Mixer;
class PcmSink;

class TapOutput {
  public:
    TapOutput(Mixer& mixer, PcmSink& sink);
    ~TapOutput();
    TapOutput(const TapOutput&) = delete;
    TapOutput& operator=(const TapOutput&) = delete;
    // False when the mixer has no room for another copy of the mix.
    bool Start();
    void Stop();
    PcmSink& sink() { return sink_; }
    // The sink's state, and what was dropped or repeated here to keep time.
    std::string State() const;
    uint64_t droppedFrames() const { return dropped_; }
    uint64_t repeatedFrames() const { return repeated_; }

  private:
    void Run();
    // Moves what the mix has sent into `fifo_`, at the sink's rate.
    void Drain();
    Mixer& mixer_;
    PcmSink& sink_;
    MixTap tap_;
    soxr_t resampler_ = nullptr;
    std::vector<float> in_;     // stereo frames from the tap, at the mixer's rate
    std::vector<float> fifo_;   // stereo frames at the sink's rate, [0, level_)
    size_t level_ = 0;          // frames waiting in fifo_
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> repeated_{0};
    bool tapped_ = false;
};

}  // namespace tw
