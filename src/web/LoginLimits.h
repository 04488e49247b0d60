#pragma once

// How often the console's password may be tried: five failures a minute from one
// address and thirty from all together, the checks under way counted as failures
// until they are known (so that a burst in parallel gets no more); and at most
// two slow hashes at once, that take 64 MiB at most together (one alone may take
// more: a hash made by an older version). A refusal is logged
// once a minute an address, never once a request.
//
// Any thread: the server's threads call it at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace tw {

class LoginLimits {
  public:
    // 0 when a login from `from` may be checked now (it then counts until
    // Checked), else the seconds to wait.
    int64_t MayTry(const std::string& from);
    // The result of a check MayTry allowed.
    void Checked(const std::string& from, bool right);
    // Runs `check`, which takes `kibibytes` of memory, when its turn comes: at
    // most two at once and 64 MiB together, the others wait.
    bool InTurn(size_t kibibytes, const std::function<bool()>& check);
    // Every lock-out ends (a new password). True when there was anything to end.
    bool Clear();

  private:
    using Steady = std::chrono::steady_clock;
    std::mutex lock_;
    std::map<std::string, std::deque<Steady::time_point>> failures_;  // the last minute's
    std::deque<Steady::time_point> allFailures_;
    std::map<std::string, size_t> checking_;  // checks under way, per address
    size_t checkingAll_ = 0;
    std::map<std::string, Steady::time_point> refusalSaid_;
    std::mutex turnLock_;
    std::condition_variable turn_;
    int hashing_ = 0;
    size_t hashingKibibytes_ = 0;
};

}  // namespace tw
