#pragma once

// The live mix as raw signed 16-bit little-endian PCM on a file descriptor
// (standard output), for a phone system that runs a program and reads its music on
// hold from it. The sound is paced by the player's clock, not by the reader: each
// block is written as it is made, never waiting (a pipe is written only as far as
// it has room, a piece of at most PIPE_BUF at a time, which it takes whole), and
// a reader that falls behind loses the oldest audio beyond 2 seconds. When the
// reader goes away (EPIPE) or a write fails otherwise (a full disk), the callback
// is told the error once. A reader that is alive but does not read never holds up
// the player or the end of the program.
//
// Threads: Consume on the pacing thread; State and readerGone from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "PcmSink.h"

namespace tw {

class PipeSink : public PcmSink {
  public:
    PipeSink(int fd, int rate, int channels, std::function<void(int error)> onEnd);
    int rate() const override { return rate_; }
    int channels() const override { return channels_; }
    // A quarter second at a time: a reader's pipe holds seconds, and each block
    // costs a wake-up.
    int blockFrames() const override { return rate_ / 4 > 0 ? rate_ / 4 : 1; }
    void Consume(const float* stereo, int frames) override;
    bool readerGone() const { return gone_; }
    bool Failing() const override { return gone_; }
    std::string Name() const override { return "pipe"; }
    std::string State() const override {
        return gone_ ? "pipe: the reader went away" : "pipe: raw audio on standard output";
    }

  private:
    // Writes what waits while the descriptor has room; false on a failure.
    bool Flush(int& error);
    const int fd_;
    const int rate_;
    const int channels_;
    std::function<void(int error)> onEnd_;
    std::vector<int16_t> block_;
    std::vector<char> waiting_;  // bytes not yet taken, [sent_, size)
    size_t sent_ = 0;
    const size_t most_;          // 2 seconds of bytes
    std::atomic<bool> gone_{false};
};

// Whether `fd` is open for writing; `why` says what is wrong when it is not.
bool CanWriteTo(int fd, std::string& why);

}  // namespace tw
