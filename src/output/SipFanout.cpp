#include "SipFanout.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <unistd.h>

#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g722.h>
}

#include "G711.h"
#include "RtpPacket.h"
#include "Sockets.h"

namespace tw {
namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kReportBytes = 160;
constexpr int kReportTicks = 500;  // 5 s

}  // namespace

size_t SipFanout::KeyHash::operator()(const Key& key) const {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (uint8_t byte : key) hash = (hash ^ byte) * 1099511628211ull;
    return static_cast<size_t>(hash);
}

SipFanout::SipFanout(int maxCalls, int dscp)
    : maxCalls_(std::max(1, maxCalls)), dscp_(dscp) {
    report_.cname = RtpCname();
    slots_.resize(static_cast<size_t>(maxCalls_));
    active_.reserve(slots_.size());
    free_.reserve(slots_.size());
    for (int i = maxCalls_ - 1; i >= 0; --i) free_.push_back(i);
    byAddress_.reserve(slots_.size());
    g722_ = g722_encode_init(nullptr, 64000, 0);
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    down_ = soxr_create(16000, 8000, 1, &error, &io, &quality, nullptr);
    narrow_.reserve(4 * kNarrowPrime);
    messages_.resize(kBatch);
    pieces_.resize(2 * kBatch);
    reports_.resize(static_cast<size_t>(kBatch) * kReportBytes);
    // Silence until the first mix comes: u-law's and A-law's codes of 0.
    for (int c = 0; c < 3; ++c) {
        const int16_t zero[kBlockBytes] = {};
        uint8_t code[kBlockBytes];
        if (c == 0) EncodeUlaw(zero, kBlockBytes, code);
        else if (c == 1) EncodeAlaw(zero, kBlockBytes, code);
        else std::memset(code, 0xFA, sizeof code);  // what G.722 makes of silence, near enough
        for (int b = 0; b < 2 * kBlocks; ++b) std::memcpy(history_[c] + b * kBlockBytes, code, kBlockBytes);
    }
}

SipFanout::~SipFanout() {
    for (int fd : {media_, control_})
        if (fd >= 0) ::close(fd);
    if (g722_) g722_encode_free(g722_);
    if (down_) soxr_delete(down_);
}

bool SipFanout::Open(const sockaddr_storage& local, std::string& why) {
    family_ = local.ss_family == AF_INET ? AF_INET : AF_INET6;
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = in6addr_any;
    const bool unspecified =
        local.ss_family == AF_INET6 &&
        IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(local).sin6_addr);
    dual_ = family_ == AF_INET6 && unspecified;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(8192, 16382);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const int port = 2 * pick(random);
        int fds[2] = {-1, -1};
        bool bound = true;
        for (int i = 0; i < 2 && bound; ++i) {
            fds[i] = ::socket(family_, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fds[i] < 0) {
                why = std::string("no socket for RTP: ") + std::strerror(errno);
                return false;
            }
            const int on = 1, off = 0, tos = dscp_ << 2;
            ::setsockopt(fds[i], IPPROTO_IP, IP_TOS, &tos, sizeof tos);
            if (family_ == AF_INET6) {
                ::setsockopt(fds[i], IPPROTO_IPV6, IPV6_TCLASS, &tos, sizeof tos);
                ::setsockopt(fds[i], IPPROTO_IPV6, IPV6_V6ONLY, dual_ ? &off : &on, sizeof on);
            }
            if (i == 0) {
                // ICMP port unreachable comes back with the address it was sent to.
                ::setsockopt(fds[i], IPPROTO_IP, IP_RECVERR, &on, sizeof on);
                if (family_ == AF_INET6)
                    ::setsockopt(fds[i], IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
                const int room = 4 << 20;
                ::setsockopt(fds[i], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
            }
            // What callers send us is not read: the least buffer holds it.
            const int least = 1;
            ::setsockopt(fds[i], SOL_SOCKET, SO_RCVBUF, &least, sizeof least);
            sockaddr_storage at = local;
            SetPort(at, port + i);
            bound = ::bind(fds[i], reinterpret_cast<const sockaddr*>(&at), AddressLength(at)) == 0;
            if (!bound && errno != EADDRINUSE) {
                why = std::string("cannot bind the RTP port: ") + std::strerror(errno);
                for (int fd : fds)
                    if (fd >= 0) ::close(fd);
                return false;
            }
        }
        if (bound) {
            media_ = fds[0];
            control_ = fds[1];
            port_ = port;
            return true;
        }
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    why = "no free pair of RTP ports";
    return false;
}

bool SipFanout::Reaches(const sockaddr_storage& address) const {
    const bool mapped = address.ss_family == AF_INET6 &&
                        IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    const bool four = address.ss_family == AF_INET || mapped;
    if (family_ == AF_INET) return four;
    return dual_ || !four;
}

SipFanout::Key SipFanout::KeyOf(const sockaddr_in6& address) const {
    Key key{};
    if (address.sin6_family == AF_INET) {
        const sockaddr_in& four = reinterpret_cast<const sockaddr_in&>(address);
        key[10] = key[11] = 0xFF;
        std::memcpy(key.data() + 12, &four.sin_addr, 4);
        std::memcpy(key.data() + 16, &four.sin_port, 2);
    } else {
        std::memcpy(key.data(), &address.sin6_addr, 16);
        std::memcpy(key.data() + 16, &address.sin6_port, 2);
    }
    return key;
}

void SipFanout::Place(Slot& slot, const SipMediaTarget& target) {
    slot.target = target;
    slot.target.ptimeMs = std::clamp(target.ptimeMs / kTickMs * kTickMs, 10, 60);
    sockaddr_storage to = target.address;
    uint16_t port = 0;
    std::memset(&slot.to, 0, sizeof slot.to);
    if (to.ss_family == AF_INET && family_ == AF_INET6) {
        const sockaddr_in& four = reinterpret_cast<const sockaddr_in&>(to);
        slot.to.sin6_family = AF_INET6;
        slot.to.sin6_port = four.sin_port;
        slot.to.sin6_addr.s6_addr[10] = slot.to.sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(slot.to.sin6_addr.s6_addr + 12, &four.sin_addr, 4);
        slot.length = sizeof(sockaddr_in6);
    } else if (to.ss_family == AF_INET6 && family_ == AF_INET) {
        // An IPv4-mapped address to an IPv4 socket.
        const sockaddr_in6& six = reinterpret_cast<const sockaddr_in6&>(to);
        sockaddr_in four{};
        four.sin_family = AF_INET;
        four.sin_port = six.sin6_port;
        std::memcpy(&four.sin_addr, six.sin6_addr.s6_addr + 12, 4);
        std::memcpy(&slot.to, &four, sizeof four);
        slot.length = sizeof(sockaddr_in);
    } else {
        slot.length = AddressLength(to);
        std::memcpy(&slot.to, &to, slot.length);
    }
    slot.control = slot.to;
    if (slot.to.sin6_family == AF_INET) {
        auto& four = reinterpret_cast<sockaddr_in&>(slot.control);
        port = ntohs(four.sin_port);
        four.sin_port = htons(static_cast<uint16_t>(port == 65535 ? port : port + 1));
    } else {
        port = ntohs(slot.control.sin6_port);
        slot.control.sin6_port = htons(static_cast<uint16_t>(port == 65535 ? port : port + 1));
    }
    const int ticks = slot.target.ptimeMs / kTickMs;
    slot.phase = static_cast<int>((tick_ + 1) % ticks);
    byAddress_.emplace(KeyOf(slot.to), static_cast<int>(&slot - slots_.data()));
    ++users_[static_cast<int>(slot.target.codec)];
}

void SipFanout::Forget(int index) {
    Slot& slot = slots_[static_cast<size_t>(index)];
    auto range = byAddress_.equal_range(KeyOf(slot.to));
    for (auto i = range.first; i != range.second; ++i)
        if (i->second == index) {
            byAddress_.erase(i);
            break;
        }
    --users_[static_cast<int>(slot.target.codec)];
}

int SipFanout::Add(const SipMediaTarget& target) {
    static thread_local std::mt19937 random(std::random_device{}());
    std::lock_guard<std::mutex> hold(lock_);
    if (free_.empty()) return -1;
    const int index = free_.back();
    free_.pop_back();
    Slot& slot = slots_[static_cast<size_t>(index)];
    slot = Slot{};
    slot.used = true;
    slot.ssrc = static_cast<uint32_t>(random());
    slot.sequence = static_cast<uint16_t>(random());
    slot.timestamp = static_cast<uint32_t>(random());
    slot.nextReport = tick_ + kReportTicks;
    Place(slot, target);
    slot.position = static_cast<int>(active_.size());
    active_.push_back(index);
    return index;
}

void SipFanout::Change(int index, const SipMediaTarget& target) {
    std::lock_guard<std::mutex> hold(lock_);
    if (index < 0 || index >= maxCalls_ || !slots_[static_cast<size_t>(index)].used) return;
    Slot& slot = slots_[static_cast<size_t>(index)];
    Forget(index);
    const bool moved = std::memcmp(&slot.target.address, &target.address, sizeof target.address) != 0;
    Place(slot, target);
    if (moved) slot.refusedFirst = slot.refusedLast = -1;
}

void SipFanout::Remove(int index) {
    std::lock_guard<std::mutex> hold(lock_);
    if (index < 0 || index >= maxCalls_ || !slots_[static_cast<size_t>(index)].used) return;
    Slot& slot = slots_[static_cast<size_t>(index)];
    Forget(index);
    const int last = active_.back();
    active_[static_cast<size_t>(slot.position)] = last;
    slots_[static_cast<size_t>(last)].position = slot.position;
    active_.pop_back();
    slot.used = false;
    slot.position = -1;
    free_.push_back(index);
}

void SipFanout::RefusedFor(int ms, std::vector<int>& out) {
    out.clear();
    const int64_t now = NowMs();
    std::lock_guard<std::mutex> hold(lock_);
    for (int index : active_) {
        const Slot& slot = slots_[static_cast<size_t>(index)];
        if (slot.refusedLast >= 0 && now - slot.refusedLast <= 2000 && slot.refusedLast - slot.refusedFirst >= ms)
            out.push_back(index);
    }
}

void SipFanout::Encode(const int16_t* mono16k) {
    const int block = static_cast<int>(tick_ % kBlocks);
    // G.722 takes the 16 kHz audio as it is.
    uint8_t* g722 = history_[2] + block * kBlockBytes;
    if (g722_encode(g722_, g722, mono16k, kTickFrames) == kBlockBytes)
        std::memcpy(g722 + kBlocks * kBlockBytes, g722, kBlockBytes);
    // G.711 from the same audio at 8 kHz. The resampler gives its output in
    // bursts (nothing for several calls, then twice as much), exactly half the
    // input over time: what it gives waits in a queue that is first filled to
    // 80 ms, and 10 ms are taken from it each time, so that none is ever short.
    int16_t out[2 * kTickFrames];
    size_t done = 0;
    if (down_) soxr_process(down_, mono16k, kTickFrames, nullptr, out, 2 * kTickFrames, &done);
    narrow_.insert(narrow_.end(), out, out + done);
    int16_t pcm[kBlockBytes] = {};
    if (!primed_) primed_ = narrow_.size() >= kNarrowPrime;
    if (primed_ && narrow_.size() >= static_cast<size_t>(kBlockBytes)) {
        std::copy(narrow_.begin(), narrow_.begin() + kBlockBytes, pcm);
        narrow_.erase(narrow_.begin(), narrow_.begin() + kBlockBytes);
    } else {
        primed_ = false;  // ran dry (it does not): silence, and fill again
    }
    if (narrow_.size() > 2 * kNarrowPrime)  // never more than 160 ms behind
        narrow_.erase(narrow_.begin(), narrow_.end() - static_cast<long>(kNarrowPrime));
    EncodeUlaw(pcm, kBlockBytes, history_[0] + block * kBlockBytes);
    EncodeAlaw(pcm, kBlockBytes, history_[1] + block * kBlockBytes);
    for (int c = 0; c < 2; ++c)
        std::memcpy(history_[c] + (block + kBlocks) * kBlockBytes, history_[c] + block * kBlockBytes,
                    kBlockBytes);
}

void SipFanout::Flush(int fd, int count) {
    int done = 0;
    bool retried = false;
    const bool media = fd == media_;
    while (done < count) {
        const int result = ::sendmmsg(fd, messages_.data() + done, static_cast<unsigned>(count - done),
                                      MSG_DONTWAIT);
        if (result > 0) {
            done += result;
            if (media) sent_ += static_cast<uint64_t>(result);
            retried = false;
            continue;
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            if (media) lost_ += static_cast<uint64_t>(count - done);
            return;
        }
        // A refusal noted on an earlier packet is said on the next send, once:
        // that packet did not go yet, so it is sent again.
        if (error == ECONNREFUSED && !retried) {
            retried = true;
            continue;
        }
        // This one cannot go (no route to it): the others still do.
        ++done;
        if (media) ++lost_;
        retried = false;
    }
}

void SipFanout::Queue(int fd, int& count, sockaddr_in6& to, socklen_t length, iovec first, iovec second) {
    iovec* piece = &pieces_[static_cast<size_t>(2 * count)];
    piece[0] = first;
    piece[1] = second;
    msghdr& m = messages_[static_cast<size_t>(count)].msg_hdr;
    m = msghdr{};
    m.msg_name = &to;
    m.msg_namelen = length;
    m.msg_iov = piece;
    m.msg_iovlen = second.iov_len ? 2 : 1;
    if (++count == kBatch) {
        Flush(fd, count);
        count = 0;
    }
}

void SipFanout::ReadErrors() {
    const int64_t now = NowMs();
    for (int i = 0; i < 4096; ++i) {
        sockaddr_in6 from{};
        char control[512];
        char data[64];
        iovec piece{data, sizeof data};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &piece;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(media_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return;
        bool refused = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR)) {
                sock_extended_err error;
                std::memcpy(&error, CMSG_DATA(c), sizeof error);
                refused = refused || error.ee_errno == ECONNREFUSED;
            }
        }
        if (!refused) continue;
        auto range = byAddress_.equal_range(KeyOf(from));
        for (auto j = range.first; j != range.second; ++j) {
            Slot& slot = slots_[static_cast<size_t>(j->second)];
            if (slot.refusedLast < 0 || now - slot.refusedLast > 2000) slot.refusedFirst = now;
            slot.refusedLast = now;
        }
    }
}

void SipFanout::Skip(long long ticks) {
    std::lock_guard<std::mutex> hold(lock_);
    for (int index : active_) slots_[static_cast<size_t>(index)].timestamp += static_cast<uint32_t>(ticks * 80);
}

void SipFanout::Tick(const int16_t* mono16k) {
    ++tick_;
    Encode(mono16k);
    if (media_ < 0) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (active_.empty()) return;
    const int block = static_cast<int>(tick_ % kBlocks);
    int count = 0;
    for (int index : active_) {
        Slot& slot = slots_[static_cast<size_t>(index)];
        if (!slot.target.send) continue;
        const int ticks = slot.target.ptimeMs / kTickMs;
        if ((tick_ - slot.phase) % ticks != 0) continue;
        RtpHeader header;
        header.payloadType = slot.target.payloadType;
        header.marker = slot.first;
        header.sequence = slot.sequence++;
        header.timestamp = slot.timestamp;
        header.ssrc = slot.ssrc;
        WriteRtpHeader(header, slot.header);
        slot.first = false;
        const size_t bytes = static_cast<size_t>(ticks) * kBlockBytes;
        slot.timestamp += static_cast<uint32_t>(ticks * 80);  // the 8000 Hz clock, G.722's too
        ++slot.packets;
        slot.octets += static_cast<uint32_t>(bytes);
        Queue(media_, count, slot.to, slot.length, {slot.header, sizeof slot.header},
              {history_[static_cast<int>(slot.target.codec)] + (block + kBlocks + 1 - ticks) * kBlockBytes, bytes});
    }
    if (count > 0) Flush(media_, count);
    // Sender reports, each call's every 5 s.
    count = 0;
    const uint64_t ntp = NtpNow();
    for (int index : active_) {
        Slot& slot = slots_[static_cast<size_t>(index)];
        if (!slot.target.send || tick_ < slot.nextReport) continue;
        slot.nextReport = tick_ + kReportTicks;
        SenderReport& report = report_;
        report.ssrc = slot.ssrc;
        report.ntpTime = ntp;
        report.rtpTime = slot.timestamp;
        report.packets = slot.packets;
        report.octets = slot.octets;
        uint8_t* bytes = reports_.data() + static_cast<size_t>(count) * kReportBytes;
        const size_t size = WriteSenderReport(report, bytes, kReportBytes);
        if (size == 0) continue;
        Queue(control_, count, slot.control, slot.length, {bytes, size}, {nullptr, 0});
    }
    if (count > 0) Flush(control_, count);
    ReadErrors();
}

}  // namespace tw
