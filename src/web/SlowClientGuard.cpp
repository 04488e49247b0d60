#include "SlowClientGuard.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

#include "Log.h"
#include "Sockets.h"

namespace tw {

namespace {
constexpr auto kWholeRequestWithin = std::chrono::seconds(10);
constexpr size_t kMostConnections = 64;
constexpr size_t kMostPerAddress = 8;

std::string AddressOf(const std::string& endpoint) {
    return endpoint.substr(0, endpoint.rfind(' '));
}
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

void SlowClientGuard::Run() {
    using Steady = std::chrono::steady_clock;
    std::map<std::string, Steady::time_point> firstSeen;
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_.wait_for(hold, std::chrono::seconds(1), [this] { return stopping_; })) {
        hold.unlock();
        const auto now = Steady::now();
        std::map<std::string, Steady::time_point> seen;
        struct Connection {
            int fd;
            std::string key;
            Steady::time_point since;
        };
        std::vector<Connection> open;
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
                Log("status - web console: %s sent no whole request in 10 s; cut off", key.c_str());
                continue;
            }
            open.push_back({fd, key, since});
        }
        // The oldest connections are kept; past 8 from one address, or 64 in all,
        // the newest are cut off.
        std::stable_sort(open.begin(), open.end(),
                         [](const Connection& a, const Connection& b) { return a.since < b.since; });
        std::map<std::string, size_t> perAddress;
        size_t kept = 0;
        for (const Connection& c : open) {
            const std::string address = AddressOf(c.key);
            if (++perAddress[address] <= kMostPerAddress && kept < kMostConnections) {
                ++kept;
                continue;
            }
            ::shutdown(c.fd, SHUT_RDWR);
            if (auto& said = capSaid_[address]; now - said > std::chrono::minutes(1)) {
                said = now;
                Log("error - web console: over %zu connections from %s or %zu in all; the newest "
                    "are cut off",
                    kMostPerAddress, address.c_str(), kMostConnections);
            }
        }
        if (capSaid_.size() > 1000) capSaid_.clear();
        firstSeen = std::move(seen);
        hold.lock();
        // Connections that are gone are forgotten.
        for (auto it = requested_.begin(); it != requested_.end();)
            it = firstSeen.count(*it) ? std::next(it) : requested_.erase(it);
    }
}

}  // namespace tw
