#pragma once

// Where a live mix goes when it is not a sound card: a pipe to a phone system, or a
// stream server. The output's pacing thread hands it each block of the mix as it
// is made, in real time; a sink never blocks that thread (a sink that can wait on
// a reader hands the audio to a thread of its own through a queue).

#include <string>

namespace tw {

class PcmSink {
  public:
    virtual ~PcmSink() = default;
    // The mixer's rate for this sink.
    virtual int rate() const = 0;
    // How many channels it keeps of the stereo mix (1: it mixes them down).
    virtual int channels() const { return 2; }
    // The frames it wants in each block: 100 ms unless its packets say otherwise.
    virtual int blockFrames() const { return rate() / 10 > 0 ? rate() / 10 : 1; }
    // Pacing thread: `frames` stereo float frames at rate(), in [-1, 1].
    virtual void Consume(const float* stereo, int frames) = 0;
    // Pacing thread: the pacing fell so far behind (a stopped machine) that
    // `frames` of real time passed without a block; a stream's clock moves on.
    virtual void Skip(int frames) { (void)frames; }
    // Its name in a list of outputs: "pipe", "icecast", "rtp".
    virtual std::string Name() const = 0;
    // It does not carry the audio now (a reader gone, a server or destination
    // away): the status line says so. Any thread.
    virtual bool Failing() const { return false; }
    // What it is doing now, for a status page ("streaming to ...", "retrying: ...").
    // Any thread.
    virtual std::string State() const = 0;
    // A media server's calls: on hold now, and the most at once today; -1 for an
    // output that takes no calls. Any thread.
    struct CallCounts {
        int now = -1;
        int mostToday = -1;
    };
    virtual CallCounts Calls() const { return {}; }
};

}  // namespace tw
