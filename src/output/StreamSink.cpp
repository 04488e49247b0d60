#include "StreamSink.h"

#include <netdb.h>
#include <poll.h>
#include <shout/shout.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>

#include "Log.h"
#include "Sockets.h"
#include "StreamEncoder.h"

namespace tw {
namespace {

using Steady = std::chrono::steady_clock;

constexpr auto kRetry = std::chrono::seconds(2);
constexpr auto kConnectTimeout = std::chrono::seconds(5);
constexpr auto kStalled = std::chrono::milliseconds(3000);

void InitShout() {
    static std::once_flag once;
    std::call_once(once, [] { shout_init(); });
}

// Whether the server already serves `mount` to listeners: asked as a listener
// would, with a few seconds' patience. Icecast answers a refused source with "Login
// failed" both for a wrong password and for a mount another source holds; this
// tells the two apart.
bool MountIsServed(const StreamTarget& target) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(target.host.c_str(), std::to_string(target.port).c_str(), &hints, &found) !=
            0 ||
        !found)
        return false;
    bool served = false;
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    auto wait = [fd](short events) {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, 2000) == 1 && (p.revents & events);
    };
    if (fd >= 0 && (::connect(fd, found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS) &&
        wait(POLLOUT)) {
        const std::string request = "GET " + target.mount + " HTTP/1.0\r\nHost: " + target.host +
                                    "\r\nUser-Agent: Tonewell\r\n\r\n";
        char answer[32] = {};
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size()) &&
            wait(POLLIN)) {
            const ssize_t n = ::recv(fd, answer, sizeof answer - 1, 0);
            // "HTTP/1.0 200 OK": the status line alone is looked at.
            served = n >= 12 && std::strncmp(answer, "HTTP/1.", 7) == 0 &&
                     std::strncmp(answer + 8, " 200", 4) == 0;
        }
    }
    if (fd >= 0) ::close(fd);
    ::freeaddrinfo(found);
    return served;
}

}  // namespace

std::string StreamTarget::Shown() const {
    return "http://" + host + ":" + std::to_string(port) + mount;
}

bool ParseStreamUrl(const std::string& text, StreamTarget& target, std::string& why) {
    // A URL parser of record, not our own: a password may hold any character once
    // percent-encoded ("/" as %2F). No message here ever shows the URL itself.
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    if (url.scheme() != QStringLiteral("icecast") || !text.starts_with("icecast://")) {
        why = "a stream URL starts with icecast://";
        return false;
    }
    if (!url.isValid()) {
        why = "the stream URL is not a valid URL (a password holding \"/\", \"@\", \":\" or "
              "\"#\" must be percent-encoded, \"/\" as %2F)";
        return false;
    }
    if (url.host().isEmpty()) {
        why = "the stream URL names no host";
        return false;
    }
    const int port = url.port(8000);
    if (port < 1 || port > 65535) {
        why = "the stream URL's port is not a number from 1 to 65535";
        return false;
    }
    if (url.hasQuery() || url.hasFragment()) {
        why = "the stream URL holds a space or a character a URL cannot";
        return false;
    }
    const std::string mount = url.path(QUrl::FullyDecoded).toStdString();
    if (mount.size() < 2) {
        why = "the stream URL names no mount point (icecast://HOST:PORT/MOUNT)";
        return false;
    }
    for (char c : mount)
        if (static_cast<unsigned char>(c) <= ' ') {
            why = "the stream URL holds a space or a character a URL cannot";
            return false;
        }
    // "icecast://source:12/34@host/moh" parses, with the password's end in the
    // path and "source" as the host: a mount never holds "@".
    if (mount.find('@') != std::string::npos) {
        why = "the stream URL holds \"@\" after its host (a password holding \"/\" must be "
              "percent-encoded as %2F)";
        return false;
    }
    const std::string user = url.userName(QUrl::FullyDecoded).toStdString();
    target.host = url.host(QUrl::FullyEncoded).toStdString();
    target.port = port;
    target.mount = mount;
    target.user = user.empty() ? "source" : user;
    target.password = url.password(QUrl::FullyDecoded).toStdString();
    return true;
}

size_t PasswordSpan(const char* text, size_t& length) {
    const std::string s = text;
    length = 0;
    const size_t start = s.find("://");
    if (start == std::string::npos) return 0;
    // The user part ends at the last "@" before the path; a raw "/" in a password
    // is part of what is hidden too.
    const size_t at = s.rfind('@');
    if (at == std::string::npos || at < start) return 0;
    const size_t colon = s.find(':', start + 3);
    if (colon == std::string::npos || colon > at) return 0;
    length = at - colon - 1;
    return colon + 1;
}

StreamSink::StreamSink(StreamTarget target)
    : target_(std::move(target)),
      // Two seconds may wait for the network; older audio is dropped.
      queue_(static_cast<size_t>(target_.rate) * target_.channels * 2) {
    InitShout();
    thread_ = std::thread(&StreamSink::Run, this);
}

StreamSink::~StreamSink() {
    quit_ = true;
    queue_.Close();
    if (thread_.joinable()) thread_.join();
}

void StreamSink::Consume(const float* stereo, int frames) {
    queue_.PushMix(stereo, frames, target_.channels);
}

std::string StreamSink::State() const {
    if (connected_) return "stream: connected to " + target_.Shown();
    std::lock_guard<std::mutex> hold(stateLock_);
    return "stream: retrying " + target_.Shown() + (shownProblem_.empty() ? "" : " (" + shownProblem_ + ")");
}

void StreamSink::Refused(const std::string& why) {
    // Each new reason once; the same one again only at the next change.
    if (why != lastProblem_)
        Log("error - stream to %s: %s; trying again every 2 seconds", target_.Shown().c_str(),
            why.c_str());
    lastProblem_ = why;
    std::lock_guard<std::mutex> hold(stateLock_);
    shownProblem_ = why;
}

bool StreamSink::Configure() {
    // One handle for the whole run, opened and closed again on each connection:
    // this libshout leaks a handle freed after closing, so one is never freed twice.
    shout_ = shout_new();
    if (!shout_) return false;
    const unsigned format = target_.format == "opus" ? SHOUT_FORMAT_OGG : SHOUT_FORMAT_MP3;
    return shout_set_host(shout_, target_.host.c_str()) == SHOUTERR_SUCCESS &&
           shout_set_port(shout_, static_cast<unsigned short>(target_.port)) == SHOUTERR_SUCCESS &&
           shout_set_user(shout_, target_.user.c_str()) == SHOUTERR_SUCCESS &&
           shout_set_password(shout_, target_.password.c_str()) == SHOUTERR_SUCCESS &&
           shout_set_mount(shout_, target_.mount.c_str()) == SHOUTERR_SUCCESS &&
           shout_set_protocol(shout_, SHOUT_PROTOCOL_HTTP) == SHOUTERR_SUCCESS &&
           shout_set_tls(shout_, SHOUT_TLS_DISABLED) == SHOUTERR_SUCCESS &&
           shout_set_content_format(shout_, format, SHOUT_USAGE_AUDIO, nullptr) ==
               SHOUTERR_SUCCESS &&
           shout_set_meta(shout_, SHOUT_META_NAME, "Tonewell music on hold") == SHOUTERR_SUCCESS &&
           shout_set_nonblocking(shout_, 1) == SHOUTERR_SUCCESS;
}

std::string StreamSink::RefusalReason(int rc) {
    if (rc == SHOUTERR_BUSY) return "the server did not answer within 5 seconds";
    if (rc != SHOUTERR_NOLOGIN) return std::string("the server refused: ") + shout_get_error(shout_);
    // Asked once per run of refusals: a listener's look costs the server little.
    if (lastProblem_.find("the server refused") != std::string::npos) return lastProblem_;
    return MountIsServed(target_)
               ? "the server refused: the mount " + target_.mount + " is in use by another source"
               : "the server refused: wrong user name or password";
}

bool StreamSink::Connect() {
    // Non-blocking: the connection is made while this thread polls, so a server
    // that never answers costs a timeout, not a hang.
    const std::set<int> before = OpenSockets();
    int rc = shout_open(shout_);
    const auto deadline = Steady::now() + kConnectTimeout;
    while (rc == SHOUTERR_BUSY && !quit_ && Steady::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rc = shout_get_connected(shout_);
    }
    if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_CONNECTED) {
        if (!quit_) Refused(RefusalReason(rc));
        shout_close(shout_);
        return false;
    }
    progress_.Attach(before, target_.port, Steady::now());
    Log("status - streaming to %s (%s, %d kb/s, %d Hz, %d channel%s)", target_.Shown().c_str(),
        target_.format.c_str(), target_.kbps, target_.rate, target_.channels,
        target_.channels == 1 ? "" : "s");
    lastProblem_.clear();
    connected_ = true;
    return true;
}

void StreamSink::Disconnect(const std::string& why) {
    if (connected_) shout_close(shout_);
    progress_.Detach();
    connected_ = false;
    if (!why.empty()) Refused(why);
}

void StreamSink::Run() {
    if (!Configure()) {
        Refused(std::string("libshout refused a setting: ") +
                (shout_ ? shout_get_error(shout_) : "out of memory"));
        // The mix goes on into nothing; there is nothing to retry.
        while (!quit_) {
            PcmBlock discard;
            queue_.Pop(discard, 500);
        }
        return;
    }
    std::string why;
    std::unique_ptr<StreamEncoder> encoder;
    auto nextTry = Steady::now();
    PcmBlock block;
    std::string bytes;
    // What the server may leave unread before it counts as stalled: 3 seconds.
    const ssize_t stalled = static_cast<ssize_t>(target_.kbps) * 1000 / 8 * 3;
    while (!quit_) {
        if (!connected_) {
            if (Steady::now() < nextTry) {
                // Not connected: the audio of this moment is gone, as on a lost device.
                queue_.Pop(block, 100);
                continue;
            }
            nextTry = Steady::now() + kRetry;
            if (!Connect()) continue;
            // Each connection is a new stream, with its own headers.
            encoder = StreamEncoder::Make(target_.format, target_.rate, target_.channels,
                                          target_.kbps, why);
            if (!encoder) {
                Disconnect(why);
                continue;
            }
            queue_.Clear();
        }
        if (!queue_.Pop(block, 100)) continue;
        bytes.clear();
        if (!encoder->Encode(block.data(), static_cast<int>(block.size()) / target_.channels,
                             bytes)) {
            Disconnect("the encoder failed");
            continue;
        }
        if (!bytes.empty()) {
            const int rc = shout_send(shout_, reinterpret_cast<const unsigned char*>(bytes.data()),
                                      bytes.size());
            if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_BUSY) {
                Disconnect(std::string("the connection was lost: ") + shout_get_error(shout_));
                continue;
            }
        }
        // A server that takes nothing for 3 seconds, or leaves more than 3 seconds
        // of the stream unread, has stalled.
        const ssize_t queued = shout_queuelen(shout_);
        if (queued > stalled ||
            progress_.Stalled(queued > 0 ? static_cast<size_t>(queued) : 0, Steady::now(),
                              kStalled))
            Disconnect("the server stopped taking the stream");
    }
    Disconnect("");
    shout_free(shout_);
}

}  // namespace tw
