#pragma once

// A SIP media server for music on hold: a PBX or a border controller calls it
// (INVITE), it answers at once with the live mix over RTP, and the call lasts
// until the caller hangs up. Signalling is Sofia-SIP's user agent on UDP and TCP,
// on a thread of its own; the music goes out through a SipFanout from the pacing
// thread that hands this output the mix.
//
// What it refuses: a caller outside `allow` (403), a media address that is not
// one host inside `allow`, or codecs we lack (488), calls past `maxCalls` (503,
// Retry-After). What it ends with a BYE: a call whose session timer runs out, whose
// media port refuses the RTP for 3 s, or that lasts over `maxCallSeconds`.
//
// Threads: construction and destruction on the main thread; Consume on the
// pacing thread; State and the counts from any thread.

#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AddressList.h"
#include "PcmSink.h"
#include "SipFanout.h"

namespace tw {

struct SipSettings {
    sockaddr_storage local{};   // where to listen; an unspecified address: everywhere
    int port = 0;
    std::vector<AddressRange> allow;
    int maxCalls = 1000;
    int maxCallSeconds = 4 * 3600;
    int sessionExpires = 1800;  // seconds, offered to callers (at least 90)
    int dscp = 46;
};

// "[ADDRESS:]PORT" ("5070", "10.0.0.5:5070", "[::1]:5070"); false with why.
bool ParseSipListen(const std::string& text, sockaddr_storage& local, int& port, std::string& why);

class SipServer : public PcmSink {
  public:
    explicit SipServer(SipSettings settings);
    ~SipServer() override;
    SipServer(const SipServer&) = delete;
    SipServer& operator=(const SipServer&) = delete;

    // Binds the SIP ports and the RTP ports and starts answering; false with why.
    bool Start(std::string& why);

    int rate() const override { return 16000; }
    int channels() const override { return 1; }
    int blockFrames() const override { return SipFanout::kTickFrames; }
    void Consume(const float* stereo, int frames) override;
    void Skip(int frames) override { fanout_.Skip(frames / SipFanout::kTickFrames); }
    std::string Name() const override { return "sip"; }
    std::string State() const override;
    CallCounts Calls() const override { return {calls_.load(), mostToday_.load()}; }

    SipFanout& fanout() { return fanout_; }
    int mediaPort() const { return fanout_.port(); }

    struct Signalling;  // the Sofia-SIP side, on its own thread

  private:
    const SipSettings settings_;
    SipFanout fanout_;
    std::vector<int16_t> pcm_;  // audio waiting for a whole 10 ms
    std::unique_ptr<Signalling> signalling_;
    std::thread thread_;
    std::atomic<int> calls_{0};
    std::atomic<int> mostToday_{0};
    friend struct Signalling;
};

}  // namespace tw
