#pragma once

// The live mix as raw signed 16-bit little-endian PCM on a file descriptor
// (standard output), for a phone system that runs a program and reads its music on
// hold from it. The sound is paced by the player's clock, not by the reader: a
// reader that falls behind loses the oldest audio. When the reader goes away
// (EPIPE) or a write fails otherwise (a full disk), the callback is told the error
// once, on the writer's thread. A reader that is alive but does not read never
// holds up the end of the program.

#include <atomic>
#include <functional>
#include <thread>

#include "PcmQueue.h"
#include "PcmSink.h"

namespace tw {

class PipeSink : public PcmSink {
  public:
    PipeSink(int fd, int rate, int channels, std::function<void(int error)> onEnd);
    ~PipeSink() override;
    int rate() const override { return rate_; }
    int channels() const override { return channels_; }
    void Consume(const float* stereo, int frames) override;
    bool readerGone() const { return gone_; }
    std::string Name() const override { return "pipe"; }
    std::string State() const override {
        return gone_ ? "pipe: the reader went away" : "pipe: raw audio on standard output";
    }

  private:
    void Write();
    bool WriteBlock(const char* bytes, size_t left, int& error);
    const int fd_;
    const int rate_;
    const int channels_;
    std::function<void(int error)> onEnd_;
    PcmQueue queue_;
    std::atomic<bool> gone_{false};
    std::thread writer_;
};

// Whether `fd` is open for writing; `why` says what is wrong when it is not.
bool CanWriteTo(int fd, std::string& why);

}  // namespace tw
