#include "RtpSink.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/ip.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g722.h>
}

#include "G711.h"
#include "PcmQueue.h"
#include "Log.h"
#include "OptionTable.h"
#include "RtpPacket.h"
#include "Sockets.h"

namespace tw {
namespace {

using SteadyClock = std::chrono::steady_clock;

bool IsMulticast(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr));
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    return false;
}

// The interface index and (for IPv4) address of a name or an address; false when
// no interface has it.
bool FindInterface(const std::string& nameOrAddress, unsigned& index, in_addr& v4) {
    index = ::if_nametoindex(nameOrAddress.c_str());
    v4.s_addr = htonl(INADDR_ANY);
    if (index != 0) return true;
    in_addr a4{};
    in6_addr a6{};
    const bool is4 = ::inet_pton(AF_INET, nameOrAddress.c_str(), &a4) == 1;
    const bool is6 = !is4 && ::inet_pton(AF_INET6, nameOrAddress.c_str(), &a6) == 1;
    if (!is4 && !is6) return false;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        if (is4 && i->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == a4.s_addr)
            found = true;
        if (is6 && i->ifa_addr->sa_family == AF_INET6 &&
            std::memcmp(&reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, &a6,
                        sizeof a6) == 0)
            found = true;
        if (found) index = ::if_nametoindex(i->ifa_name);
    }
    ::freeifaddrs(list);
    if (found && is4) v4 = a4;
    return found;
}

uint32_t RandomWord() {
    static std::random_device device;
    return device();
}

}  // namespace

bool ResolveRtpTargets(const std::string& list, std::vector<RtpTarget>& out, std::string& why) {
    out.clear();
    for (const std::string& item : SplitList(list)) {
        if (item.empty()) continue;
        std::string host;
        int number = 0;
        if (!SplitHostPort(item, false, host, number, why)) return false;
        const std::string port = std::to_string(number);
        addrinfo hints{};
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* found = nullptr;
        if (const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
            error != 0 || !found) {
            why = "the host " + host + " does not resolve (" + ::gai_strerror(error) + ")";
            return false;
        }
        RtpTarget target;
        std::memcpy(&target.address, found->ai_addr, found->ai_addrlen);
        target.length = found->ai_addrlen;
        ::freeaddrinfo(found);
        target.text = item;
        target.multicast = IsMulticast(target.address);
        out.push_back(target);
    }
    if (out.empty()) {
        why = "no HOST:PORT is given";
        return false;
    }
    return true;
}

bool NetworkInterfaceExists(const std::string& nameOrAddress) {
    unsigned index = 0;
    in_addr v4{};
    return !nameOrAddress.empty() && FindInterface(nameOrAddress, index, v4);
}

int RtpPayloadType(const std::string& codec) {
    if (codec == "pcmu") return 0;
    if (codec == "pcma") return 8;
    if (codec == "g722") return 9;
    return -1;
}

int RtpCodecRate(const std::string& codec) {
    return codec == "g722" ? 16000 : 8000;
}

RtpSink::RtpSink(RtpSettings settings)
    : settings_(std::move(settings)),
      rate_(RtpCodecRate(settings_.codec)),
      packetFrames_(rate_ * settings_.ptimeMs / 1000),
      // G.722 keeps the 8000 Hz RTP clock of G.711 though it carries 16 kHz audio.
      clockStep_(static_cast<uint32_t>(8 * settings_.ptimeMs)),
      payloadType_(RtpPayloadType(settings_.codec)),
      ssrc_(RandomWord()),
      sequence_(static_cast<uint16_t>(RandomWord())),
      timestamp_(RandomWord()),
      cname_(RtpCname()) {
    if (settings_.codec == "g722") g722_ = g722_encode_init(nullptr, 64000, 0);
    pcm_.reserve(static_cast<size_t>(packetFrames_) * 2);
    packet_.resize(kRtpHeaderBytes + static_cast<size_t>(packetFrames_));
    for (const RtpTarget& target : settings_.to) {
        Peer peer;
        peer.target = target;
        peers_.push_back(peer);
    }
    for (Peer& peer : peers_) Open(peer);
    SetState();
}

RtpSink::~RtpSink() {
    for (Peer& peer : peers_) Close(peer);
    if (g722_) g722_encode_free(g722_);
}

bool RtpSink::Open(Peer& peer) {
    Close(peer);
    const sockaddr_storage& to = peer.target.address;
    const bool v6 = to.ss_family == AF_INET6;
    sockaddr_storage control = to;
    const int port = PortOf(to);
    SetPort(control, port + 1);
    int failure = 0;
    for (int* fd : {&peer.media, &peer.control}) {
        if (fd == &peer.control && port == 65535) break;  // no port above for RTCP
        *fd = ::socket(to.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (*fd < 0) {
            failure = errno;
            break;
        }
        const int tos = settings_.dscp << 2;
        const int hops = settings_.ttl;
        if (v6) {
            ::setsockopt(*fd, IPPROTO_IPV6, IPV6_TCLASS, &tos, sizeof tos);
            ::setsockopt(*fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops);
        } else {
            ::setsockopt(*fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
            ::setsockopt(*fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
        }
        if (peer.target.multicast && !settings_.interface.empty()) {
            unsigned index = 0;
            in_addr v4{};
            int result = -1;
            if (FindInterface(settings_.interface, index, v4)) {
                if (v6) {
                    const int i = static_cast<int>(index);
                    result = ::setsockopt(*fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &i, sizeof i);
                } else {
                    ip_mreqn request{};
                    request.imr_address = v4;
                    request.imr_ifindex = v4.s_addr == htonl(INADDR_ANY) ? static_cast<int>(index) : 0;
                    result = ::setsockopt(*fd, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request);
                }
            }
            if (result != 0) {
                failure = result < 0 && errno ? errno : ENODEV;
                break;
            }
        }
        const sockaddr_storage& address = fd == &peer.media ? to : control;
        if (::connect(*fd, reinterpret_cast<const sockaddr*>(&address), peer.target.length) != 0) {
            failure = errno;
            break;
        }
    }
    if (failure == 0) return true;
    Close(peer);
    Failed(peer, failure);
    return false;
}

void RtpSink::Close(Peer& peer) {
    for (int* fd : {&peer.media, &peer.control}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void RtpSink::Failed(Peer& peer, int error) {
    const auto now = SteadyClock::now();
    peer.failedAt = now;
    if (error == peer.error) return;
    peer.error = error;
    if (error == ECONNREFUSED)
        Log("error - rtp: %s refuses the stream (nothing listens on that port); sending goes on",
            peer.target.text.c_str());
    else
        Log("error - rtp: cannot send to %s (%s); trying again every 2 seconds",
            peer.target.text.c_str(), std::strerror(error));
    SetState();
}

void RtpSink::SetState() {
    std::string text = "rtp: " + settings_.codec + " to ";
    for (size_t i = 0; i < peers_.size(); ++i) text += (i ? ", " : "") + peers_[i].target.text;
    std::string trouble;
    for (const Peer& peer : peers_) {
        if (peer.error == 0) continue;
        trouble += trouble.empty() ? "" : "; ";
        trouble += peer.target.text + (peer.error == ECONNREFUSED
                                           ? " refuses it"
                                           : std::string(" unreachable (") + std::strerror(peer.error) +
                                                 "), retrying");
    }
    text += trouble.empty() ? " (sending)" : " (" + trouble + ")";
    failing_ = !trouble.empty();
    std::lock_guard<std::mutex> hold(stateLock_);
    state_ = text;
}

std::string RtpSink::State() const {
    std::lock_guard<std::mutex> hold(stateLock_);
    return state_;
}

void RtpSink::Consume(const float* stereo, int frames) {
    // Whole packets, whatever the blocks (one packet each, from the pacing thread).
    MixToMonoBlocks(stereo, frames, packetFrames_, pcm_, [this](const int16_t* pcm) { SendPacket(pcm); });
}

void RtpSink::Skip(int frames) {
    // The receiver sees the time that passed, not a stream that went on as if
    // nothing happened.
    const int packets = frames / packetFrames_;
    timestamp_ += static_cast<uint32_t>(packets) * clockStep_;
}

void RtpSink::SendPacket(const int16_t* samples) {
    uint8_t* payload = packet_.data() + kRtpHeaderBytes;
    size_t bytes = static_cast<size_t>(packetFrames_);
    if (payloadType_ == 0)
        EncodeUlaw(samples, bytes, payload);
    else if (payloadType_ == 8)
        EncodeAlaw(samples, bytes, payload);
    else
        bytes = static_cast<size_t>(g722_encode(g722_, payload, samples, packetFrames_));
    RtpHeader header;
    header.payloadType = static_cast<uint8_t>(payloadType_);
    header.marker = first_;
    header.sequence = sequence_;
    header.timestamp = timestamp_;
    header.ssrc = ssrc_;
    WriteRtpHeader(header, packet_.data());
    const auto now = SteadyClock::now();
    bool changed = false;
    for (Peer& peer : peers_) {
        if (peer.media < 0) {
            if (now >= peer.reopenAt && !Open(peer)) {
                peer.reopenAt = now + std::chrono::seconds(2);
                continue;
            }
            if (peer.media < 0) continue;
        }
        const ssize_t sent = ::send(peer.media, packet_.data(), kRtpHeaderBytes + bytes, 0);
        if (sent >= 0) {
            // Back after a failure: said once the packets have left for 5 s.
            if (peer.error != 0 && now - peer.failedAt > std::chrono::seconds(5)) {
                Log("status - rtp: sending to %s again", peer.target.text.c_str());
                peer.error = 0;
                changed = true;
            }
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == ENOBUFS) {
            ++lost_;
            continue;
        }
        Failed(peer, error);
        // A refusal is news from the receiver, not a broken socket: keep sending.
        // Anything else (no route, an interface gone): new sockets in 2 s.
        if (error != ECONNREFUSED) {
            Close(peer);
            peer.reopenAt = now + std::chrono::seconds(2);
        }
    }
    if (changed) SetState();
    first_ = false;
    ++sequence_;
    timestamp_ += clockStep_;
    ++packets_;
    octets_ += bytes;
    if (now >= nextReport_) {
        nextReport_ = now + std::chrono::seconds(5);
        SendReports();
    }
}

void RtpSink::SendReports() {
    SenderReport report;
    report.ssrc = ssrc_;
    report.ntpTime = NtpNow();
    report.rtpTime = timestamp_;
    report.packets = static_cast<uint32_t>(packets_);
    report.octets = static_cast<uint32_t>(octets_);
    report.cname = cname_;
    uint8_t bytes[320];
    const size_t size = WriteSenderReport(report, bytes, sizeof bytes);
    for (const Peer& peer : peers_) {
        // A lost report is not worth a word: the next comes in 5 s.
        if (peer.control >= 0 && size > 0) (void)::send(peer.control, bytes, size, 0);
    }
}

}  // namespace tw
