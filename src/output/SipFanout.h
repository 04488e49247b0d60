#pragma once

// The music to every call a media server holds: the live mix, encoded once per
// codec each 10 ms, goes to each call in packets of its own size with a 12-byte
// RTP header of its own (SSRC, sequence, timestamp). One socket sends them all in
// batches (sendmmsg), on the deadlines of the thread that hands it the mix; every
// call gets an RTCP sender report every 5 s from the port above. A destination
// that answers with ICMP port unreachable is noted, so that its call can be ended.
// Calls live in slots made at start-up: nothing is allocated per call while the
// music goes out.
//
// Threads: Open and the figures from any thread before or after; Add, Change,
// Remove and RefusedFor on the signalling thread; Tick on the pacing thread.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "RtpPacket.h"

struct g722_encode_state_s;
struct soxr;

namespace tw {

enum class SipCodec : uint8_t { Pcmu, Pcma, G722 };

struct SipMediaTarget {
    sockaddr_storage address{};   // where the RTP goes (RTCP to the port above)
    SipCodec codec = SipCodec::Pcmu;
    uint8_t payloadType = 0;      // as the caller numbered the codec
    int ptimeMs = 20;             // 10 to 60, a multiple of 10
    bool send = true;             // false: the call is on hold from our side (inactive)
};

class SipFanout {
  public:
    static constexpr int kTickMs = 10;
    static constexpr int kTickFrames = 160;  // 10 ms at 16 kHz, what Tick takes

    SipFanout(int maxCalls, int dscp);
    ~SipFanout();
    SipFanout(const SipFanout&) = delete;
    SipFanout& operator=(const SipFanout&) = delete;

    // Binds an even port and the one above it on `local` (any address: all of
    // this machine's); false with why.
    bool Open(const sockaddr_storage& local, std::string& why);
    int port() const { return port_; }
    // Whether packets can go to an address of this family from our socket.
    bool Reaches(const sockaddr_storage& address) const;

    // A slot for a new call (its SSRC, sequence and timestamp chosen now), -1
    // when all are taken.
    int Add(const SipMediaTarget& target);
    // A new address, codec, packet size or direction (a re-INVITE).
    void Change(int slot, const SipMediaTarget& target);
    // No packet for this slot leaves after this returns.
    void Remove(int slot);
    // The slots whose destination has answered with ICMP port unreachable for at
    // least `ms` without a break of over 2 s (one look under the lock for all).
    void RefusedFor(int ms, std::vector<int>& slots);

    // Pacing thread: 10 ms of mono audio at 16 kHz.
    void Tick(const int16_t* mono16k);
    // Pacing thread: `ticks` of 10 ms passed without audio (a stopped machine):
    // every call's timestamp moves on by that time.
    void Skip(long long ticks);

    uint64_t packetsSent() const { return sent_.load(); }
    uint64_t packetsLost() const { return lost_.load(); }

  private:
    struct Slot {
        SipMediaTarget target;
        sockaddr_in6 to{};        // as our socket sends it (IPv4 as mapped, if dual)
        sockaddr_in6 control{};
        socklen_t length = 0;
        uint8_t header[12] = {};
        uint32_t ssrc = 0;
        uint16_t sequence = 0;
        uint32_t timestamp = 0;
        uint32_t packets = 0;
        uint32_t octets = 0;
        int64_t nextReport = 0;   // tick
        int phase = 0;
        bool first = true;
        bool used = false;
        int position = -1;        // in active_
        int64_t refusedFirst = -1, refusedLast = -1;  // ms of the steady clock
    };
    using Key = std::array<uint8_t, 18>;
    struct KeyHash {
        size_t operator()(const Key& key) const;
    };
    Key KeyOf(const sockaddr_in6& address) const;
    void Place(Slot& slot, const SipMediaTarget& target);
    void Forget(int slot);
    void Encode(const int16_t* mono16k);
    // One message (one or two pieces) into the batch for `fd`, sent when full.
    void Queue(int fd, int& count, sockaddr_in6& to, socklen_t length, iovec first, iovec second);
    void Flush(int fd, int count);
    void ReadErrors();

    const int maxCalls_;
    const int dscp_;
    int media_ = -1, control_ = -1;
    int family_ = AF_INET6;   // of our sockets
    bool dual_ = true;        // an IPv6 socket that also sends to IPv4
    int port_ = 0;

    std::mutex lock_;         // slots_, active_, byAddress_
    std::vector<Slot> slots_;
    std::vector<int> active_;
    std::vector<int> free_;
    std::unordered_multimap<Key, int, KeyHash> byAddress_;
    int users_[3] = {0, 0, 0};  // calls per codec

    // The last 60 ms of each codec, twice over, so that the last N blocks lie
    // side by side: block b of the last six at b and b + 6.
    static constexpr int kBlocks = 6;
    static constexpr int kBlockBytes = 80;  // 10 ms of each codec
    uint8_t history_[3][2 * kBlocks * kBlockBytes] = {};
    bool encoded_[3] = {false, false, false};
    int64_t tick_ = 0;
    g722_encode_state_s* g722_ = nullptr;
    soxr* down_ = nullptr;               // 16 kHz to 8 kHz for G.711
    std::vector<int16_t> narrow_;        // 8 kHz samples waiting
    static constexpr size_t kNarrowPrime = 640;  // 80 ms
    bool primed_ = false;
    SenderReport report_;                // its CNAME set once

    static constexpr int kBatch = 256;
    std::vector<mmsghdr> messages_;
    std::vector<iovec> pieces_;
    std::vector<uint8_t> reports_;       // kBatch sender reports of 160 bytes

    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> lost_{0};
};

}  // namespace tw
