#include "SlowClientGuard.h"

#include <chrono>
#include <map>
#include <optional>

#include "Log.h"
#include "Sockets.h"

namespace tw {

namespace {
constexpr auto kWholeRequestWithin = std::chrono::seconds(10);
// An upload moves at 1 KB/s at least, measured over each 10 seconds.
constexpr auto kUploadWindow = std::chrono::seconds(10);
constexpr size_t kLeastPerWindow = 10 * 1024;
}  // namespace

SlowClientGuard::SlowClientGuard(int port) : port_(port), thread_(&SlowClientGuard::Run, this) {}

SlowClientGuard::~SlowClientGuard() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void SlowClientGuard::RequestArrived(const std::string& endpoint) {
    std::lock_guard<std::mutex> hold(lock_);
    requested_.insert(endpoint);
}

void SlowClientGuard::Moved(const std::string& endpoint, size_t bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    moved_[endpoint] = bytes;
}

void SlowClientGuard::Run() {
    using Steady = std::chrono::steady_clock;
    struct Seen {
        Steady::time_point since;
        Steady::time_point windowStart{};  // an upload's: where its window began
        size_t windowBytes = 0;
    };
    std::map<std::string, Seen> firstSeen;
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_.wait_for(hold, std::chrono::seconds(1), [this] { return stopping_; })) {
        hold.unlock();
        const auto now = Steady::now();
        std::map<std::string, Seen> seen;
        for (int fd : OpenSockets()) {
            sockaddr_storage local{}, peer{};
            if (!SocketEnds(fd, local, peer) || PortOf(local) != port_) continue;
            const std::string key = Endpoint(peer);
            const auto it = firstSeen.find(key);
            Seen& s = seen[key] = it == firstSeen.end() ? Seen{now} : it->second;
            bool whole = false;
            std::optional<size_t> moved;
            {
                std::lock_guard<std::mutex> h(lock_);
                whole = requested_.count(key) != 0;
                if (const auto m = moved_.find(key); m != moved_.end()) moved = m->second;
            }
            if (whole) continue;
            if (moved) {
                if (s.windowStart == Steady::time_point{}) {
                    s.windowStart = now;
                    s.windowBytes = *moved;
                } else if (now - s.windowStart >= kUploadWindow) {
                    if (*moved - s.windowBytes < kLeastPerWindow) {
                        ::shutdown(fd, SHUT_RDWR);
                        Log("status - web console: an upload from %s moved under 1 KB/s; cut off",
                            key.c_str());
                    }
                    s.windowStart = now;
                    s.windowBytes = *moved;
                }
                continue;
            }
            if (now - s.since > kWholeRequestWithin) {
                ::shutdown(fd, SHUT_RDWR);
                Log("status - web console: %s sent no whole request in 10 s; cut off", key.c_str());
            }
        }
        firstSeen = std::move(seen);
        hold.lock();
        // Connections that are gone are forgotten.
        for (auto it = requested_.begin(); it != requested_.end();)
            it = firstSeen.count(*it) ? std::next(it) : requested_.erase(it);
        for (auto it = moved_.begin(); it != moved_.end();)
            it = firstSeen.count(it->first) ? std::next(it) : moved_.erase(it);
    }
}

}  // namespace tw
