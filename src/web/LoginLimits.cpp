#include "LoginLimits.h"

#include <algorithm>

#include "Log.h"

namespace tw {
namespace {

constexpr size_t kMostFailures = 5;      // a minute, per address
constexpr size_t kMostFailuresAll = 30;  // a minute, from all addresses together
constexpr int kMostHashesAtOnce = 2;
// What the hashes under way may take together; one alone may take more.
constexpr size_t kMostHashKibibytes = 64 * 1024;

}  // namespace

int64_t LoginLimits::MayTry(const std::string& from) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto now = Steady::now();
    auto prune = [&now](std::deque<Steady::time_point>& times) {
        while (!times.empty() && now - times.front() > std::chrono::minutes(1)) times.pop_front();
    };
    auto& times = failures_[from];
    prune(times);
    prune(allFailures_);
    const auto under = checking_.find(from);
    const size_t inFlight = under == checking_.end() ? 0 : under->second;
    const bool here = times.size() + inFlight >= kMostFailures;
    const bool everywhere = allFailures_.size() + checkingAll_ >= kMostFailuresAll;
    if (!here && !everywhere) {
        ++checking_[from];
        ++checkingAll_;
        return 0;
    }
    const auto& oldest = here ? times : allFailures_;
    const auto wait = oldest.empty() ? std::chrono::seconds(1)
                                     : std::chrono::ceil<std::chrono::seconds>(
                                           oldest.front() + std::chrono::minutes(1) - now);
    if (refusalSaid_.size() > 1000) refusalSaid_.clear();  // a bound, not a record
    if (auto& said = refusalSaid_[from]; said == Steady::time_point{} || now - said > std::chrono::minutes(1)) {
        said = now;
        Log("error - web console: too many failed logins %s%s; refused for %lld s",
            here ? "from " : "from all addresses, the last from ", from.c_str(),
            static_cast<long long>(wait.count()));
    }
    if (times.empty() && inFlight == 0) failures_.erase(from);
    return std::max<int64_t>(1, wait.count());
}

void LoginLimits::Checked(const std::string& from, bool right) {
    std::lock_guard<std::mutex> hold(lock_);
    if (--checking_[from] == 0) checking_.erase(from);
    --checkingAll_;
    if (right) {
        failures_.erase(from);
        return;
    }
    failures_[from].push_back(Steady::now());
    allFailures_.push_back(Steady::now());
}

bool LoginLimits::InTurn(size_t kibibytes, const std::function<bool()>& check) {
    std::unique_lock<std::mutex> turn(turnLock_);
    turn_.wait(turn, [this, kibibytes] {
        return hashing_ == 0 ||
               (hashing_ < kMostHashesAtOnce && hashingKibibytes_ + kibibytes <= kMostHashKibibytes);
    });
    ++hashing_;
    hashingKibibytes_ += kibibytes;
    turn.unlock();
    const bool result = check();
    turn.lock();
    --hashing_;
    hashingKibibytes_ -= kibibytes;
    turn_.notify_all();
    return result;
}

bool LoginLimits::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    const bool any = !failures_.empty();
    failures_.clear();
    allFailures_.clear();
    refusalSaid_.clear();
    return any;
}

}  // namespace tw
