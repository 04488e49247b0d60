#pragma once

// The live mix as an RTP stream (RFC 3550) for an IP phone system: G.711 u-law or
// A-law, or G.722, in packets of 10 to 60 ms, to one or more addresses, unicast or
// multicast, with an RTCP sender report to each (on the port above) every 5 s.
// The pacing thread hands it exactly one packet's worth of audio on each deadline;
// sending never waits (a socket that cannot take a packet loses it, counted). A
// destination that refuses the stream, or a network that is gone, is said once
// and sending goes on; the sockets are made anew every 2 s while sending fails, so
// a network that comes back carries the stream again by itself.
//
// Threads: construction on the main thread; Consume and Skip on the pacing
// thread; State and the figures from any thread.

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "PcmSink.h"

struct g722_encode_state_s;

namespace tw {

struct RtpTarget {
    sockaddr_storage address{};
    socklen_t length = 0;
    std::string text;  // as the user wrote it, for messages
    bool multicast = false;
};

struct RtpSettings {
    std::vector<RtpTarget> to;
    std::string codec = "pcmu";  // pcmu, pcma or g722
    int ptimeMs = 20;
    int ttl = 1;                 // hops of a multicast packet
    std::string interface;       // the address or name a multicast stream leaves by
    int dscp = 46;               // Expedited Forwarding; 0: unmarked
};

// "HOST:PORT[, HOST:PORT...]" (an IPv6 address in brackets), each host resolved
// now. False with what is wrong in `why`.
bool ResolveRtpTargets(const std::string& list, std::vector<RtpTarget>& out, std::string& why);
// Whether a network interface has this name or this address.
bool NetworkInterfaceExists(const std::string& nameOrAddress);
// The static payload type of a codec (RFC 3551): 0, 8 or 9; -1 for none of ours.
int RtpPayloadType(const std::string& codec);
// The audio rate a codec is fed with: 8000, or 16000 for G.722.
int RtpCodecRate(const std::string& codec);

class RtpSink : public PcmSink {
  public:
    explicit RtpSink(RtpSettings settings);
    ~RtpSink() override;
    RtpSink(const RtpSink&) = delete;
    RtpSink& operator=(const RtpSink&) = delete;

    int rate() const override { return rate_; }
    int channels() const override { return 1; }
    int blockFrames() const override { return packetFrames_; }
    void Consume(const float* stereo, int frames) override;
    void Skip(int frames) override;
    std::string Name() const override { return "rtp"; }
    std::string State() const override;
    bool Failing() const override { return failing_; }

    uint64_t packetsSent() const { return packets_; }
    uint64_t packetsLost() const { return lost_; }
    uint32_t ssrc() const { return ssrc_; }

  private:
    struct Peer {
        RtpTarget target;
        int media = -1;
        int control = -1;
        int error = 0;  // the last failure, 0 while packets leave
        std::chrono::steady_clock::time_point failedAt{};
        std::chrono::steady_clock::time_point reopenAt{};
    };
    bool Open(Peer& peer);
    void Close(Peer& peer);
    void SendPacket(const int16_t* samples);
    void SendReports();
    void Failed(Peer& peer, int error);
    void SetState();

    const RtpSettings settings_;
    const int rate_;
    const int packetFrames_;     // audio frames in one packet
    const uint32_t clockStep_;   // RTP clock ticks of one packet (8000 Hz for all three)
    const int payloadType_;
    std::vector<Peer> peers_;
    g722_encode_state_s* g722_ = nullptr;
    std::vector<int16_t> pcm_;   // audio waiting for a whole packet
    std::vector<uint8_t> packet_;
    uint32_t ssrc_;
    uint16_t sequence_;
    uint32_t timestamp_;
    bool first_ = true;
    std::chrono::steady_clock::time_point nextReport_{};
    std::atomic<uint64_t> packets_{0};
    std::atomic<uint64_t> octets_{0};
    std::atomic<uint64_t> lost_{0};
    std::string cname_;
    mutable std::mutex stateLock_;
    std::string state_;
    std::atomic<bool> failing_{false};
};

}  // namespace tw
