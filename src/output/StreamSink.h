#pragma once

// The live mix sent to an Icecast server (libshout), encoded as MP3 or Ogg Opus.
// Encoding and the network run on a thread of their own fed through a bounded
// queue, so a slow or stalled server never holds up the mix. Losing the server is
// like losing a sound device: the mix goes on (into nothing), the loss is logged
// once, and the connection is tried again every 2 seconds.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "PcmQueue.h"
#include "PcmSink.h"
#include "ServerProgress.h"

typedef struct shout shout_t;

namespace tw {

struct StreamTarget {
    std::string host;
    int port = 8000;
    std::string mount;  // "/moh"
    std::string user = "source";
    std::string password;
    std::string format = "mp3";
    int kbps = 64;
    int rate = 8000;
    int channels = 1;
    // Where it goes, for the log: never the password.
    std::string Shown() const;
};

// Reads "icecast://[USER[:PASSWORD]@]HOST[:PORT]/MOUNT" into `target` (the format,
// bitrate, rate and channels are left alone). False with the reason in `why`.
// The user name and password are percent-decoded.
bool ParseStreamUrl(const std::string& text, StreamTarget& target, std::string& why);

// Where the password of a stream URL stands in `text` (its offset, and its length
// in `length`; 0 and 0 without one), so that it can be blanked out where others
// could read it.
size_t PasswordSpan(const char* text, size_t& length);

class StreamSink : public PcmSink {
  public:
    explicit StreamSink(StreamTarget target);
    ~StreamSink() override;
    int rate() const override { return target_.rate; }
    int channels() const override { return target_.channels; }
    void Consume(const float* stereo, int frames) override;
    bool connected() const { return connected_; }
    std::string Name() const override { return "icecast"; }
    bool Failing() const override { return !connected_; }
    std::string State() const override;

  private:
    void Run();
    bool Configure();
    bool Connect();
    // Why a connection failed with libshout's code `rc`, for the log.
    std::string RefusalReason(int rc);
    void Disconnect(const std::string& why);
    void Refused(const std::string& why);

    const StreamTarget target_;
    PcmQueue queue_;
    shout_t* shout_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<bool> quit_{false};
    std::string lastProblem_;  // said once until the stream is back
    mutable std::mutex stateLock_;
    std::string shownProblem_;  // lastProblem_, for State() on other threads
    ServerProgress progress_;
    std::thread thread_;
};

}  // namespace tw
