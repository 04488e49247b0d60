// A load generator for the SIP media server: CALLS calls set up at RATE a second
// (each with an RTP port of its own on 127.0.0.1), held HOLD seconds, then ended
// with a BYE. Responses are read with Sofia-SIP's parser. It reports, as
// key=value lines: calls answered and refused, the time from INVITE to 200 and
// from the 200 to the first RTP packet (p50, p99), RTP packets, lost (sequence
// gaps), the arrival interval (kernel timestamps) within 20 +/- 2 ms and its
// p99.9, and, for the server's process (PID) during the hold: CPU and memory;
// and its own CPU.
//
//   sip_load PORT CALLS RATE HOLD PID

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

namespace {

int64_t RealNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

struct Call {
    int rtp = -1;
    int port = 0;
    std::string id;
    std::string toTag;
    int contactPort = 0;
    int64_t invited = 0, answered = 0;  // realtime ns
    std::atomic<int64_t> firstRtp{0};
    int status = 0;
    int64_t lastArrival = 0;
    uint16_t lastSequence = 0;
    uint64_t packets = 0, lost = 0;
    bool ended = false;
};

std::vector<Call> calls;
int serverPort = 0;
int sip = -1;
int sipPort = 0;
std::mutex lock;
// Arrival intervals in 0.1 ms bins up to 200 ms.
std::vector<uint64_t> intervals(2001);
std::atomic<bool> receiving{true};

void SendTo(int port, const std::string& text) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(sip, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::string Request(const std::string& method, size_t index, int cseq, const std::string& body) {
    const Call& c = calls[index];
    const bool dialog = !c.toTag.empty() && method != "INVITE";
    const std::string uri = dialog ? "sip:127.0.0.1:" + std::to_string(c.contactPort)
                                   : "sip:moh@127.0.0.1:" + std::to_string(serverPort);
    const std::string me = "127.0.0.1:" + std::to_string(sipPort);
    return method + " " + uri + " SIP/2.0\r\nVia: SIP/2.0/UDP " + me + ";branch=z9hG4bK" + c.id + method +
           ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:load@" + me + ">;tag=L\r\nTo: <sip:moh@127.0.0.1:" +
           std::to_string(serverPort) + ">" + (dialog ? ";tag=" + c.toTag : "") + "\r\nCall-ID: " + c.id +
           "\r\nCSeq: " + std::to_string(cseq) + " " + method + "\r\nContact: <sip:load@" + me + ">\r\n" +
           (body.empty() ? "" : "Content-Type: application/sdp\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Reads SIP for `ms`: answers, ACKs 2xx, answers a BYE from the server.
void ReadSip(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        pollfd p{sip, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(0, left))) <= 0) return;
        char buffer[8192];
        const ssize_t n = recv(sip, buffer, sizeof buffer, 0);
        if (n <= 0) continue;
        const int64_t now = RealNs();
        msg_t* message = msg_make(sip_default_mclass(), 0, buffer, n);
        const sip_t* s = message ? sip_object(message) : nullptr;
        if (!s || !s->sip_call_id || !s->sip_call_id->i_id) {
            if (message) msg_destroy(message);
            continue;
        }
        const char* id = s->sip_call_id->i_id;
        const size_t index = std::strtoul(id + 5, nullptr, 10);  // "load-N-..."
        if (std::strncmp(id, "load-", 5) != 0 || index >= calls.size()) {
            msg_destroy(message);
            continue;
        }
        Call& c = calls[index];
        if (s->sip_status && s->sip_cseq && s->sip_cseq->cs_method == sip_method_invite) {
            const int status = s->sip_status->st_status;
            if (status >= 200 && c.status == 0) {
                c.status = status;
                c.answered = now;
                if (status < 300) {
                    if (s->sip_to && s->sip_to->a_tag) c.toTag = s->sip_to->a_tag;
                    if (s->sip_contact && s->sip_contact->m_url->url_port)
                        c.contactPort = std::atoi(s->sip_contact->m_url->url_port);
                    SendTo(c.contactPort, Request("ACK", index, 1, ""));
                }
            }
        } else if (s->sip_request && s->sip_request->rq_method == sip_method_bye) {
            c.ended = true;
            std::string reply = "SIP/2.0 200 OK\r\n";
            const std::string text(buffer, static_cast<size_t>(n));
            for (const char* name : {"Via:", "From:", "To:", "Call-ID:", "CSeq:"}) {
                const size_t at = text.find(std::string("\r\n") + name);
                if (at == std::string::npos) continue;
                reply += text.substr(at + 2, text.find("\r\n", at + 2) - at);
            }
            SendTo(c.contactPort, reply + "Content-Length: 0\r\n\r\n");
        }
        msg_destroy(message);
    }
}

void Receive(int epoll) {
    constexpr int kBatch = 64;
    mmsghdr messages[kBatch];
    iovec pieces[kBatch];
    uint8_t data[kBatch][256];
    char controls[kBatch][64];
    epoll_event events[64];
    while (receiving) {
        const int ready = epoll_wait(epoll, events, 64, 100);
        for (int e = 0; e < ready; ++e) {
            Call& c = calls[events[e].data.u64];
            while (true) {
                for (int i = 0; i < kBatch; ++i) {
                    pieces[i] = {data[i], sizeof data[i]};
                    messages[i].msg_hdr = msghdr{};
                    messages[i].msg_hdr.msg_iov = &pieces[i];
                    messages[i].msg_hdr.msg_iovlen = 1;
                    messages[i].msg_hdr.msg_control = controls[i];
                    messages[i].msg_hdr.msg_controllen = sizeof controls[i];
                }
                const int got = recvmmsg(c.rtp, messages, kBatch, MSG_DONTWAIT, nullptr);
                if (got <= 0) break;
                for (int i = 0; i < got; ++i) {
                    // RTCP for the call whose port is one below this one's.
                    if (messages[i].msg_len < 12 || (data[i][1] >= 200 && data[i][1] <= 204)) continue;
                    int64_t at = RealNs();
                    for (cmsghdr* m = CMSG_FIRSTHDR(&messages[i].msg_hdr); m; m = CMSG_NXTHDR(&messages[i].msg_hdr, m))
                        if (m->cmsg_level == SOL_SOCKET && m->cmsg_type == SCM_TIMESTAMPNS) {
                            timespec t;
                            std::memcpy(&t, CMSG_DATA(m), sizeof t);
                            at = int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
                        }
                    const uint16_t sequence = static_cast<uint16_t>(data[i][2] << 8 | data[i][3]);
                    if (c.packets == 0) {
                        c.firstRtp = at;
                    } else {
                        const uint16_t step = static_cast<uint16_t>(sequence - c.lastSequence);
                        if (step > 1 && step < 1000) c.lost += step - 1;
                        const int64_t bin = (at - c.lastArrival) / 100000;
                        std::lock_guard<std::mutex> hold(lock);
                        ++intervals[static_cast<size_t>(std::clamp<int64_t>(bin, 0, 2000))];
                    }
                    c.lastSequence = sequence;
                    c.lastArrival = at;
                    ++c.packets;
                }
            }
        }
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

long CpuMs(int pid) {
    long total = 0;
    const std::string base = "/proc/" + std::to_string(pid) + "/task/";
    std::string list;
    FILE* ls = popen(("ls " + base).c_str(), "r");
    char name[64];
    while (ls && std::fscanf(ls, "%63s", name) == 1) {
        std::ifstream stat(base + name + "/schedstat");
        long long ns = 0;
        stat >> ns;
        total += static_cast<long>(ns / 1000000);
    }
    if (ls) pclose(ls);
    return total;
}

// The kernel's UDP counters of this network namespace: datagrams dropped for a
// full receive buffer, and for a full send buffer.
void UdpDrops(long long& receive, long long& send) {
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line))
        if (line.rfind("Udp: ", 0) == 0) {
            if (names.empty()) names = line;
            else values = line;
        }
    std::istringstream n(names), v(values);
    std::string name, value;
    receive = send = 0;
    while (n >> name && v >> value) {
        if (name == "RcvbufErrors") receive = std::atoll(value.c_str());
        if (name == "SndbufErrors") send = std::atoll(value.c_str());
    }
}

long MemoryKb(int pid, const char* key) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    // sip_load listen PORT SECONDS: the same measure of one stream to PORT (a
    // bare sender's, for the floor of this machine).
    if (argc == 4 && std::string(argv[1]) == "listen") {
        calls = std::vector<Call>(1);
        Call& c = calls[0];
        c.rtp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(c.rtp, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const int on = 1;
        setsockopt(c.rtp, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        const int epoll = epoll_create1(EPOLL_CLOEXEC);
        epoll_event e{};
        e.events = EPOLLIN;
        epoll_ctl(epoll, EPOLL_CTL_ADD, c.rtp, &e);
        std::thread receiver(Receive, epoll);
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[3])));
        receiving = false;
        receiver.join();
        uint64_t all = 0, within = 0;
        for (size_t b = 0; b < intervals.size(); ++b) {
            all += intervals[b];
            if (b >= 180 && b <= 220) within += intervals[b];
        }
        std::printf("packets=%llu lost=%llu within_20pm2_pct=%.3f\n", static_cast<unsigned long long>(c.packets),
                    static_cast<unsigned long long>(c.lost), all ? 100.0 * static_cast<double>(within) / static_cast<double>(all) : 0.0);
        return 0;
    }
    if (argc < 6) {
        std::fprintf(stderr, "usage: sip_load PORT CALLS RATE HOLD PID\n");
        return 2;
    }
    serverPort = std::atoi(argv[1]);
    const size_t count = std::strtoul(argv[2], nullptr, 10);
    const double rate = std::atof(argv[3]);
    const int hold = std::atoi(argv[4]);
    const int pid = std::atoi(argv[5]);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    sip = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sip, reinterpret_cast<sockaddr*>(&me), sizeof me);
    socklen_t length = sizeof me;
    getsockname(sip, reinterpret_cast<sockaddr*>(&me), &length);
    sipPort = ntohs(me.sin_port);
    const int room = 8 << 20;
    setsockopt(sip, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);

    calls = std::vector<Call>(count);
    // Two receiving threads, each with half of the calls.
    const int epolls[2] = {epoll_create1(EPOLL_CLOEXEC), epoll_create1(EPOLL_CLOEXEC)};
    for (size_t i = 0; i < count; ++i) {
        Call& c = calls[i];
        c.rtp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(c.rtp, reinterpret_cast<sockaddr*>(&a), sizeof a);
        length = sizeof a;
        getsockname(c.rtp, reinterpret_cast<sockaddr*>(&a), &length);
        c.port = ntohs(a.sin_port);
        const int on = 1, buffer = 256 << 10;
        setsockopt(c.rtp, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(c.rtp, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        c.id = "load-" + std::to_string(i) + "-" + std::to_string(getpid());
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = i;
        epoll_ctl(epolls[i % 2], EPOLL_CTL_ADD, c.rtp, &e);
    }
    std::thread receivers[2] = {std::thread(Receive, epolls[0]), std::thread(Receive, epolls[1])};

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    long long receiveDrops0 = 0, sendDrops0 = 0;
    UdpDrops(receiveDrops0, sendDrops0);
    // Set-up at RATE a second, on absolute deadlines.
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < count; ++i) {
        const auto due = start + std::chrono::nanoseconds(static_cast<int64_t>(1e9 * static_cast<double>(i) / rate));
        while (std::chrono::steady_clock::now() < due)
            ReadSip(static_cast<int>(std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()).count())));
        const std::string sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio " +
                                std::to_string(calls[i].port) + " RTP/AVP 0\r\na=ptime:20\r\na=sendrecv\r\n";
        calls[i].invited = RealNs();
        SendTo(serverPort, Request("INVITE", i, 1, sdp));
    }
    ReadSip(1000);
    // The hold: the server's CPU and memory over it.
    const long cpu0 = CpuMs(pid);
    const auto held = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - held < std::chrono::seconds(hold)) ReadSip(200);
    const long cpu1 = CpuMs(pid);
    const double heldSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - held).count();
    const long rss = MemoryKb(pid, "VmRSS:"), peak = MemoryKb(pid, "VmHWM:");
    long long receiveDrops = 0, sendDrops = 0;
    UdpDrops(receiveDrops, sendDrops);
    receiving = false;
    for (auto& t : receivers) t.join();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // Hung up at the same rate, as a PBX would.
    const auto hangup = std::chrono::steady_clock::now();
    size_t byes = 0;
    for (size_t i = 0; i < count; ++i)
        if (calls[i].status == 200 && !calls[i].ended) {
            const auto due = hangup + std::chrono::nanoseconds(static_cast<int64_t>(1e9 * static_cast<double>(byes++) / rate));
            while (std::chrono::steady_clock::now() < due) ReadSip(1);
            SendTo(calls[i].contactPort, Request("BYE", i, 2, ""));
        }
    ReadSip(1000);

    size_t answered = 0, refused = 0, silent = 0;
    uint64_t packets = 0, lost = 0;
    std::vector<double> setup, first;
    for (const Call& c : calls) {
        if (c.status == 200) ++answered;
        else if (c.status) ++refused;
        if (c.status != 200) continue;
        setup.push_back((c.answered - c.invited) / 1e6);
        if (c.firstRtp) first.push_back((c.firstRtp - c.answered) / 1e6);
        else ++silent;
        packets += c.packets;
        lost += c.lost;
    }
    uint64_t all = 0, within = 0;
    for (size_t b = 0; b < intervals.size(); ++b) {
        all += intervals[b];
        if (b >= 180 && b <= 220) within += intervals[b];
    }
    uint64_t seen = 0;
    double p999 = -1;
    for (size_t b = 0; b < intervals.size() && p999 < 0; ++b)
        if ((seen += intervals[b]) >= static_cast<uint64_t>(0.999 * static_cast<double>(all))) p999 = b / 10.0;
    const double ownCpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec + after.ru_stime.tv_sec - before.ru_stime.tv_sec) * 1000.0 +
                          (after.ru_utime.tv_usec - before.ru_utime.tv_usec + after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1000.0;
    std::printf("calls=%zu answered=%zu refused=%zu without_rtp=%zu\n", count, answered, refused, silent);
    std::printf("setup_ms_p50=%.2f setup_ms_p99=%.2f first_rtp_ms_p50=%.2f first_rtp_ms_p99=%.2f\n",
                Percentile(setup, 0.5), Percentile(setup, 0.99), Percentile(first, 0.5), Percentile(first, 0.99));
    std::printf("packets=%llu lost=%llu within_20pm2_pct=%.3f interval_p999_ms=%.1f\n",
                static_cast<unsigned long long>(packets), static_cast<unsigned long long>(lost),
                all ? 100.0 * static_cast<double>(within) / static_cast<double>(all) : 0.0, p999);
    std::printf("udp_dropped_receive_buffer=%lld udp_dropped_send_buffer=%lld\n", receiveDrops - receiveDrops0,
                sendDrops - sendDrops0);
    if (std::getenv("INTERVALS")) {
        for (size_t b = 0; b < intervals.size(); ++b)
            if (intervals[b]) std::printf("interval %.1f ms: %llu\n", b / 10.0, static_cast<unsigned long long>(intervals[b]));
    }
    std::printf("server_cpu_pct=%.1f server_rss_mb=%.1f server_peak_rss_mb=%.1f load_generator_cpu_ms=%.0f\n",
                100.0 * static_cast<double>(cpu1 - cpu0) / (heldSeconds * 1000.0), rss / 1024.0, peak / 1024.0, ownCpu);
    return 0;
}
