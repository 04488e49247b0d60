#include "SipServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <random>
#include <unordered_map>

#include <sofia-sip/msg_addr.h>
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/su_log.h>
#include <sofia-sip/su_tag.h>
#include <sofia-sip/su_wait.h>
#include <sofia-sip/tport_tag.h>

#include "Log.h"
#include "PcmQueue.h"
#include "SipOffer.h"
#include "Sockets.h"

extern "C" {
extern su_log_t nua_log[];
extern su_log_t nta_log[];
extern su_log_t tport_log[];
}

namespace tw {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kTimerMs = 250;
constexpr int kRefusedEndsMs = 3000;
constexpr int kMostConnections = 64;  // TCP connections to the SIP port at once (64 KB each at most)
constexpr const char* kAllow = "INVITE, ACK, BYE, CANCEL, OPTIONS, UPDATE";

// What of a caller's Call-ID goes into the log: the characters a Call-ID is made
// of, at most 64 of them.
std::string ShownCallId(const sip_t* sip) {
    std::string text;
    const char* id = sip && sip->sip_call_id ? sip->sip_call_id->i_id : nullptr;
    for (const char* c = id; c && *c && text.size() < 64; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)) || std::strchr(".-_@+~!%*()'", *c)) text += *c;
    return text.empty() ? "?" : text;
}

int LocalDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local.tm_year * 400 + local.tm_yday;
}

}  // namespace

bool ParseSipListen(const std::string& text, sockaddr_storage& local, int& port, std::string& why) {
    std::memset(&local, 0, sizeof local);
    std::string host;
    if (!SplitHostPort(text, true, host, port, why)) return false;
    auto& six = reinterpret_cast<sockaddr_in6&>(local);
    auto& four = reinterpret_cast<sockaddr_in&>(local);
    if (host.empty()) {
        six.sin6_family = AF_INET6;  // every address, IPv4 and IPv6
        six.sin6_addr = in6addr_any;
    } else if (::inet_pton(AF_INET, host.c_str(), &four.sin_addr) == 1) {
        four.sin_family = AF_INET;
    } else if (::inet_pton(AF_INET6, host.c_str(), &six.sin6_addr) == 1) {
        six.sin6_family = AF_INET6;
    } else {
        why = host.substr(0, 60) + " is not an IP address of this machine";
        return false;
    }
    return true;
}

struct SipServer::Signalling {
    struct Call {
        nua_handle_t* handle = nullptr;
        std::string id;
        std::string shown;         // media address, codec, packet size
        int slot = -1;
        bool started = false;      // said in the log, counted
        bool awaitingAnswer = false;  // our offer went in a 200: the answer comes in the ACK
        bool ending = false;
        std::string why;           // why we ended it
        Steady::time_point start = Steady::now();
        unsigned version = 0;
        uint64_t sessionId = 0;
        sockaddr_storage from{};
    };

    explicit Signalling(SipServer& owner) : owner(owner), random(std::random_device{}()) {}

    SipServer& owner;
    su_root_t* root = nullptr;
    nua_t* nua = nullptr;
    su_timer_t* timer = nullptr;
    std::atomic<bool> stopping{false};
    Steady::time_point shutdownAt{};
    std::unordered_map<nua_handle_t*, std::unique_ptr<Call>> calls;
    std::mt19937_64 random;
    int day = LocalDay();
    int ticks = 0;
    int onHold = 0;  // calls started and not finished
    std::vector<int> refused;  // slots whose port refuses the music

    void Run(std::promise<std::string>& started);
    static void OnEvent(nua_event_t event, int status, char const* phrase, nua_t* nua,
                        nua_magic_t* magic, nua_handle_t* nh, nua_hmagic_t* hmagic,
                        sip_t const* sip, tagi_t tags[]);
    static void OnTimer(su_root_magic_t* magic, su_timer_t* t, su_timer_arg_t* arg);
    void Event(nua_event_t event, int status, char const* phrase, nua_handle_t* nh, Call* call,
               sip_t const* sip, tagi_t tags[]);
    void Invite(nua_handle_t* nh, Call* call, sip_t const* sip);
    void Ack(Call& call, sip_t const* sip);
    void Options(nua_handle_t* nh);
    void Timer();
    void CapConnections();
    bool Allowed(sockaddr_storage& from);
    SipSdpContext Context(Call& call);
    bool Apply(Call& call, const SipSdpResult& result);
    void Begin(Call& call);
    void End(Call& call, const std::string& why);
    void Finish(nua_handle_t* nh, const char* phrase);
    void Count();
};

SipSdpContext SipServer::Signalling::Context(Call& call) {
    SipSdpContext context;
    context.allow = &owner.settings_.allow;
    context.port = owner.fanout_.port();
    context.sessionId = call.sessionId;
    context.version = call.version;
    const sockaddr_storage local = owner.settings_.local;
    context.localAddress = [local](const sockaddr_storage& peer) {
        if (!IsUnspecified(local)) return HostOf(local);
        // The address this machine sends from towards the caller.
        const int fd = ::socket(peer.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_storage mine{};
        socklen_t length = sizeof mine;
        sockaddr_storage to = peer;
        if (PortOf(to) == 0) SetPort(to, 9);
        const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), AddressLength(to)) == 0 &&
                        ::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &length) == 0;
        if (fd >= 0) ::close(fd);
        return ok ? HostOf(mine) : std::string(peer.ss_family == AF_INET ? "127.0.0.1" : "::1");
    };
    SipFanout* fanout = &owner.fanout_;
    context.reaches = [fanout](const sockaddr_storage& peer) { return fanout->Reaches(peer); };
    return context;
}

bool SipServer::Signalling::Allowed(sockaddr_storage& from) {
    std::memset(&from, 0, sizeof from);
    msg_t* request = nua_current_request(nua);
    const su_addrinfo_t* info = request ? msg_addrinfo(request) : nullptr;
    if (!info || !info->ai_addr || info->ai_addrlen > sizeof from) return false;
    std::memcpy(&from, info->ai_addr, info->ai_addrlen);
    UnmapAddress(from);
    return InAddressList(owner.settings_.allow, reinterpret_cast<const sockaddr*>(&from));
}

void SipServer::Signalling::Run(std::promise<std::string>& started) {
    su_init();
    // Sofia-SIP's own logging stays quiet: what matters is said in ours.
    su_log_set_level(su_log_default, 0);
    su_log_set_level(nua_log, 0);
    su_log_set_level(nta_log, 0);
    su_log_set_level(tport_log, 0);
    root = su_root_create(this);
    if (!root) {
        started.set_value("the SIP stack cannot start");
        su_deinit();
        return;
    }
    const SipSettings& s = owner.settings_;
    std::string host = IsUnspecified(s.local) ? "*" : HostOf(s.local);
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    const std::string url = "sip:" + host + ":" + std::to_string(s.port);
    const std::string expires = std::to_string(s.sessionExpires);
    nua = nua_create(root, &Signalling::OnEvent, reinterpret_cast<nua_magic_t*>(this),
                     NUTAG_URL(url.c_str()), NUTAG_MEDIA_ENABLE(0), NUTAG_AUTOANSWER(0),
                     NUTAG_AUTOACK(1), NUTAG_ENABLEMESSAGE(0), NUTAG_SESSION_TIMER(s.sessionExpires),
                     NUTAG_MIN_SE(90), NUTAG_SESSION_REFRESHER(nua_remote_refresher),
                     NUTAG_UPDATE_REFRESH(1), SIPTAG_ALLOW_STR(kAllow), SIPTAG_SUPPORTED_STR("timer"),
                     NUTAG_APPL_METHOD("OPTIONS"),
                     SIPTAG_ACCEPT_STR("application/sdp"), NUTAG_USER_AGENT("Tonewell"),
                     // Bounds before anything is read: a message of 64 KB at most, a
                     // half message is dropped after 5 s, an idle connection after 2 min.
                     NTATAG_MAXSIZE(65536), TPTAG_TIMEOUT(5000), TPTAG_IDLE(120000), TAG_END());
    if (!nua) {
        su_root_destroy(root);
        root = nullptr;
        su_deinit();
        started.set_value("cannot listen for SIP on " + url.substr(4) +
                          " (in use, or not an address of this machine)");
        return;
    }
    timer = su_timer_create(su_root_task(root), kTimerMs);
    su_timer_run(timer, &Signalling::OnTimer, reinterpret_cast<su_timer_arg_t*>(this));
    started.set_value("");
    su_root_run(root);
    su_timer_destroy(timer);
    for (auto& [handle, call] : calls) {
        if (call->slot >= 0) owner.fanout_.Remove(call->slot);
        nua_handle_destroy(handle);
    }
    calls.clear();
    nua_destroy(nua);
    su_root_destroy(root);
    su_deinit();
}

void SipServer::Signalling::OnEvent(nua_event_t event, int status, char const* phrase, nua_t*,
                                    nua_magic_t* magic, nua_handle_t* nh, nua_hmagic_t* hmagic,
                                    sip_t const* sip, tagi_t tags[]) {
    auto* self = reinterpret_cast<Signalling*>(magic);
    self->Event(event, status, phrase, nh, reinterpret_cast<Call*>(hmagic), sip, tags);
}

void SipServer::Signalling::OnTimer(su_root_magic_t*, su_timer_t*, su_timer_arg_t* arg) {
    reinterpret_cast<Signalling*>(arg)->Timer();
}

void SipServer::Signalling::Event(nua_event_t event, int status, char const* phrase,
                                  nua_handle_t* nh, Call* call, sip_t const* sip, tagi_t tags[]) {
    switch (event) {
    case nua_i_invite:
        Invite(nh, call, sip);
        return;
    case nua_i_ack:
        if (call) Ack(*call, sip);
        return;
    case nua_i_bye:
        if (call && !call->ending) {
            // Not one more packet: the slot is gone before the 200 to the BYE.
            if (call->slot >= 0) owner.fanout_.Remove(call->slot);
            call->slot = -1;
            call->why = "the caller hung up";
        }
        return;
    case nua_i_options:
        Options(nh);
        return;
    case nua_i_state: {
        int state = nua_callstate_init;
        tl_gets(tags, NUTAG_CALLSTATE_REF(state), TAG_END());
        if (state == nua_callstate_terminated && call) Finish(nh, phrase);
        return;
    }
    case nua_r_bye:
        // A BYE we did not ask for: the stack's, when the caller did not refresh.
        if (call && call->why.empty())
            call->why = stopping.load() ? "the player stopped" : "its session timer ran out";
        return;
    case nua_r_shutdown:
        if (status >= 200) su_root_break(root);
        return;
    default:
        (void)status;
        // A request outside a call that we do not handle: the stack answered it.
        if (!call && nh && event >= nua_i_chat && event <= nua_i_network_changed &&
            event != nua_i_state && event != nua_i_active && event != nua_i_terminated)
            nua_handle_destroy(nh);
        return;
    }
}

void SipServer::Signalling::Options(nua_handle_t* nh) {
    sockaddr_storage from{};
    if (!Allowed(from))
        nua_respond(nh, SIP_403_FORBIDDEN, NUTAG_WITH_THIS(nua), TAG_END());
    else
        // The stack adds Allow, Accept and Supported as set at the start.
        nua_respond(nh, SIP_200_OK, NUTAG_WITH_THIS(nua), TAG_END());
    if (!nua_handle_magic(nh)) nua_handle_destroy(nh);
}

void SipServer::Signalling::Invite(nua_handle_t* nh, Call* call, sip_t const* sip) {
    const bool fresh = call == nullptr;
    const char* body = sip && sip->sip_payload ? sip->sip_payload->pl_data : nullptr;
    const size_t size = body ? sip->sip_payload->pl_len : 0;
    if (fresh) {
        sockaddr_storage from{};
        if (!Allowed(from)) {
            nua_respond(nh, SIP_403_FORBIDDEN, NUTAG_WITH_THIS(nua), TAG_END());
            nua_handle_destroy(nh);
            return;
        }
        if (static_cast<int>(calls.size()) >= owner.settings_.maxCalls) {
            nua_respond(nh, SIP_503_SERVICE_UNAVAILABLE, NUTAG_WITH_THIS(nua),
                        SIPTAG_RETRY_AFTER_STR("10"), TAG_END());
            nua_handle_destroy(nh);
            return;
        }
        auto made = std::make_unique<Call>();
        made->handle = nh;
        made->id = ShownCallId(sip);
        made->sessionId = random() >> 12;
        made->from = from;
        call = made.get();
        calls.emplace(nh, std::move(made));
        nua_handle_bind(nh, reinterpret_cast<nua_hmagic_t*>(call));
        // A caller that cannot refresh a session is not asked to: we would have to
        // refresh it ourselves with a re-INVITE that carries no music.
        if (!sip || !sip_has_feature(sip->sip_supported, "timer"))
            nua_set_hparams(nh, NUTAG_SESSION_TIMER(0), TAG_END());
    }
    ++call->version;
    SipSdpContext context = Context(*call);
    if (size == 0) {
        // A delayed offer: ours goes in the 200, the caller's answer in the ACK.
        call->awaitingAnswer = true;
        const std::string offer = MakeSdpOffer(call->from, context);
        nua_respond(nh, SIP_200_OK, NUTAG_WITH_THIS(nua), SIPTAG_CONTENT_TYPE_STR("application/sdp"),
                    SIPTAG_PAYLOAD_STR(offer.c_str()), TAG_END());
        return;
    }
    const SipSdpResult result = AnswerSdpOffer(body, size, context);
    if (result.status != 200 || !Apply(*call, result)) {
        const std::string warning = "399 tonewell \"" + (result.why.empty() ? std::string("all calls are taken") : result.why) + "\"";
        if (result.status != 200 || !fresh)
            nua_respond(nh, SIP_488_NOT_ACCEPTABLE, NUTAG_WITH_THIS(nua),
                        SIPTAG_WARNING_STR(warning.c_str()), TAG_END());
        else
            nua_respond(nh, SIP_503_SERVICE_UNAVAILABLE, NUTAG_WITH_THIS(nua),
                        SIPTAG_RETRY_AFTER_STR("10"), TAG_END());
        if (fresh) {
            calls.erase(nh);
            nua_handle_destroy(nh);
        }
        return;
    }
    call->awaitingAnswer = false;
    nua_respond(nh, SIP_200_OK, NUTAG_WITH_THIS(nua), SIPTAG_CONTENT_TYPE_STR("application/sdp"),
                SIPTAG_PAYLOAD_STR(result.answer.c_str()), TAG_END());
    Begin(*call);
}

bool SipServer::Signalling::Apply(Call& call, const SipSdpResult& result) {
    call.shown = result.media ? result.shown : "no stream (declined)";
    if (!result.media) {
        if (call.slot >= 0) owner.fanout_.Remove(call.slot);
        call.slot = -1;
        return true;
    }
    if (call.slot >= 0) {
        owner.fanout_.Change(call.slot, result.target);
        return true;
    }
    call.slot = owner.fanout_.Add(result.target);
    return call.slot >= 0;
}

void SipServer::Signalling::Ack(Call& call, sip_t const* sip) {
    if (!call.awaitingAnswer) return;
    call.awaitingAnswer = false;
    const char* body = sip && sip->sip_payload ? sip->sip_payload->pl_data : nullptr;
    const size_t size = body ? sip->sip_payload->pl_len : 0;
    const SipSdpResult result = ReadSdpAnswer(body, size, Context(call));
    if (result.status != 200) {
        End(call, "its answer in the ACK is not usable: " + result.why);
        return;
    }
    if (!Apply(call, result)) {
        End(call, "all calls are taken");
        return;
    }
    Begin(call);
}

void SipServer::Signalling::Begin(Call& call) {
    if (call.started) return;
    call.started = true;
    ++onHold;
    Log("status - sip: call %s started: %s", call.id.c_str(), call.shown.c_str());
    Count();
}

void SipServer::Signalling::End(Call& call, const std::string& why) {
    if (call.ending) return;
    call.ending = true;
    call.why = why;
    if (call.slot >= 0) owner.fanout_.Remove(call.slot);
    call.slot = -1;
    nua_bye(call.handle, TAG_END());
}

void SipServer::Signalling::Finish(nua_handle_t* nh, const char* phrase) {
    auto found = calls.find(nh);
    if (found == calls.end()) return;
    Call& call = *found->second;
    if (call.slot >= 0) owner.fanout_.Remove(call.slot);
    if (call.started) {
        --onHold;
        const long seconds = static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - call.start).count());
        const std::string why = !call.why.empty() ? call.why : phrase && *phrase ? phrase : "ended";
        Log("status - sip: call %s ended after %ld s: %s (%s)", call.id.c_str(), seconds,
            call.shown.c_str(), why.c_str());
    }
    calls.erase(found);
    nua_handle_destroy(nh);
    Count();
}

void SipServer::Signalling::Count() {
    const int now = onHold;
    owner.calls_.store(now);
    const int today = LocalDay();
    if (today != day) {
        day = today;
        owner.mostToday_.store(now);
    }
    if (now > owner.mostToday_.load()) owner.mostToday_.store(now);
}

void SipServer::Signalling::Timer() {
    if (stopping.load()) {
        if (shutdownAt == Steady::time_point{}) {
            shutdownAt = Steady::now();
            nua_shutdown(nua);  // a BYE to every call
        } else if (Steady::now() - shutdownAt > std::chrono::seconds(3)) {
            su_root_break(root);
        }
        return;
    }
    const auto now = Steady::now();
    const auto longest = std::chrono::seconds(owner.settings_.maxCallSeconds);
    owner.fanout_.RefusedFor(kRefusedEndsMs, refused);
    for (auto& [handle, call] : calls) {
        if (call->ending || !call->started) continue;
        if (call->slot >= 0 && std::find(refused.begin(), refused.end(), call->slot) != refused.end())
            End(*call, "its media port refused the music for 3 s");
        else if (now - call->start >= longest)
            End(*call, "it lasted the longest a call may (sip-max-call)");
    }
    if (++ticks % (1000 / kTimerMs) == 0) {
        CapConnections();
        Count();
    }
}

void SipServer::Signalling::CapConnections() {
    // The stack takes every TCP connection it is offered; past 64, the newest
    // are shut down, and any from outside sip-allow.
    int seen = 0;
    for (int fd : OpenSockets()) {
        sockaddr_storage local{}, peer{};
        if (!SocketEnds(fd, local, peer) || PortOf(local) != owner.settings_.port) continue;
        int type = 0;
        socklen_t length = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) continue;
        UnmapAddress(peer);
        if (++seen > kMostConnections ||
            !InAddressList(owner.settings_.allow, reinterpret_cast<const sockaddr*>(&peer)))
            ::shutdown(fd, SHUT_RDWR);
    }
}

SipServer::SipServer(SipSettings settings)
    : settings_(std::move(settings)), fanout_(settings_.maxCalls, settings_.dscp) {
    pcm_.reserve(SipFanout::kTickFrames);
}

bool SipServer::Start(std::string& why) {
    // The ports are tried first: the stack, when it cannot bind them, says less
    // and keeps memory it took.
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        sockaddr_storage at = settings_.local;
        SetPort(at, settings_.port);
        const int fd = ::socket(at.ss_family, type | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&at), AddressLength(at)) == 0;
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (!bound) {
            why = std::string("cannot listen for SIP on ") + (type == SOCK_DGRAM ? "UDP" : "TCP") + " port " +
                  std::to_string(settings_.port) + ": " + std::strerror(error);
            return false;
        }
    }
    if (!fanout_.Open(settings_.local, why)) return false;
    signalling_ = std::make_unique<Signalling>(*this);
    std::promise<std::string> started;
    std::future<std::string> result = started.get_future();
    thread_ = std::thread([this, &started] { signalling_->Run(started); });
    why = result.get();
    if (why.empty()) return true;
    thread_.join();
    signalling_.reset();
    return false;
}

SipServer::~SipServer() {
    if (thread_.joinable()) {
        signalling_->stopping = true;
        thread_.join();
    }
}

void SipServer::Consume(const float* stereo, int frames) {
    MixToMonoBlocks(stereo, frames, SipFanout::kTickFrames, pcm_,
                    [this](const int16_t* pcm) { fanout_.Tick(pcm); });
}

std::string SipServer::State() const {
    const int now = calls_.load(), most = mostToday_.load();
    sockaddr_storage listening = settings_.local;
    SetPort(listening, settings_.port);
    const std::string where =
        IsUnspecified(listening) ? "port " + std::to_string(settings_.port) : HostPortText(listening);
    const uint64_t lost = fanout_.packetsLost();
    return "sip: " + std::to_string(now) + (now == 1 ? " call" : " calls") + " on hold (most today " +
           std::to_string(most) + "), answering on " + where +
           (lost ? "; " + std::to_string(lost) + " RTP packets could not be sent" : "");
}

}  // namespace tw
