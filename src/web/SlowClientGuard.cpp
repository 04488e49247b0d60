#include "SlowClientGuard.h"

#include <chrono>
#include <map>

#include "Log.h"
#include "Sockets.h"

namespace tw {

namespace {
constexpr auto kWholeRequestWithin = std::chrono::seconds(15);
}

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

void SlowClientGuard::Run() {
    using Steady = std::chrono::steady_clock;
    std::map<std::string, Steady::time_point> firstSeen;
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_.wait_for(hold, std::chrono::seconds(1), [this] { return stopping_; })) {
        hold.unlock();
        const auto now = Steady::now();
        std::map<std::string, Steady::time_point> seen;
        for (int fd : OpenSockets()) {
            sockaddr_storage local{}, peer{};
            if (!SocketEnds(fd, local, peer) || PortOf(local) != port_) continue;
            const std::string key = Endpoint(peer);
            const auto it = firstSeen.find(key);
            const auto since = seen[key] = it == firstSeen.end() ? now : it->second;
            bool started = false;
            {
                std::lock_guard<std::mutex> h(lock_);
                started = requested_.count(key) != 0;
            }
            if (!started && now - since > kWholeRequestWithin) {
                ::shutdown(fd, SHUT_RDWR);
                Log("status - web console: %s sent no whole request in 15 s; cut off", key.c_str());
            }
        }
        firstSeen = std::move(seen);
        hold.lock();
        // Connections that are gone are forgotten.
        for (auto it = requested_.begin(); it != requested_.end();)
            it = firstSeen.count(*it) ? std::next(it) : requested_.erase(it);
    }
}

}  // namespace tw
