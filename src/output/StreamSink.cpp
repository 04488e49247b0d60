#include "StreamSink.h"

#include <shout/shout.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "Log.h"
#include "StreamEncoder.h"

namespace tw {
namespace {

using Steady = std::chrono::steady_clock;

constexpr auto kRetry = std::chrono::seconds(2);
constexpr auto kConnectTimeout = std::chrono::seconds(5);

void InitShout() {
    static std::once_flag once;
    std::call_once(once, [] { shout_init(); });
}

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    port = std::atoi(text.c_str());
    return port >= 1 && port <= 65535;
}

}  // namespace

std::string StreamTarget::Shown() const {
    return "http://" + host + ":" + std::to_string(port) + mount;
}

bool ParseStreamUrl(const std::string& url, StreamTarget& target, std::string& why) {
    const std::string scheme = "icecast://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        why = "a stream URL starts with icecast://";
        return false;
    }
    std::string rest = url.substr(scheme.size());
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const std::string mount = slash == std::string::npos ? "" : rest.substr(slash);
    std::string user = target.user, password;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = credentials.find(':');
        user = credentials.substr(0, colon);
        if (colon != std::string::npos) password = credentials.substr(colon + 1);
    }
    int port = 8000;
    const size_t colon = authority.rfind(':');
    std::string host = authority.substr(0, colon);
    if (colon != std::string::npos && !ParsePort(authority.substr(colon + 1), port)) {
        why = "the stream URL's port is not a number from 1 to 65535";
        return false;
    }
    if (host.empty()) {
        why = "the stream URL names no host";
        return false;
    }
    if (mount.size() < 2) {
        why = "the stream URL names no mount point (icecast://HOST:PORT/MOUNT)";
        return false;
    }
    for (char c : host + mount)
        if (static_cast<unsigned char>(c) <= ' ' || c == '?' || c == '#') {
            why = "the stream URL holds a space or a character a URL cannot";
            return false;
        }
    if (user.empty()) user = "source";
    target.host = host;
    target.port = port;
    target.mount = mount;
    target.user = user;
    target.password = password;
    return true;
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

void StreamSink::Refused(const std::string& why) {
    // Each new reason once; the same one again only at the next change.
    if (why != lastProblem_)
        Log("error - stream to %s: %s; trying again every 2 seconds", target_.Shown().c_str(),
            why.c_str());
    lastProblem_ = why;
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

bool StreamSink::Connect() {
    // Non-blocking: the connection is made while this thread polls, so a server
    // that never answers costs a timeout, not a hang.
    int rc = shout_open(shout_);
    const auto deadline = Steady::now() + kConnectTimeout;
    while (rc == SHOUTERR_BUSY && !quit_ && Steady::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rc = shout_get_connected(shout_);
    }
    if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_CONNECTED) {
        if (!quit_)
            Refused(rc == SHOUTERR_BUSY
                        ? "the server did not answer within 5 seconds"
                        : std::string("the server refused: ") + shout_get_error(shout_));
        shout_close(shout_);
        return false;
    }
    Log("status - streaming to %s (%s, %d kb/s, %d Hz, %d channel%s)", target_.Shown().c_str(),
        target_.format.c_str(), target_.kbps, target_.rate, target_.channels,
        target_.channels == 1 ? "" : "s");
    lastProblem_.clear();
    connected_ = true;
    return true;
}

void StreamSink::Disconnect(const std::string& why) {
    if (connected_) shout_close(shout_);
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
        if (shout_queuelen(shout_) > stalled) Disconnect("the server stopped taking the stream");
    }
    Disconnect("");
    shout_free(shout_);
}

}  // namespace tw
