#pragma once

// cpp-httplib times out each read, not a whole request, and takes every
// connection it is offered: a client that sends a byte every few seconds would
// hold one of the console's threads for ever, and a flood of idle connections
// would hold the process's file handles. Once a second this looks at every
// connection to the console's port, and shuts down those that have not brought a
// whole request (its line and headers) within 10 seconds, and the newest past 8
// from one address or 64 in all; the server's thread then ends them.
//
// Threads: a thread of its own; RequestArrived from the server's threads.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace tw {

class SlowClientGuard {
  public:
    explicit SlowClientGuard(int port);
    ~SlowClientGuard();
    // A whole request came from this peer ("ADDRESS PORT"): it is not cut off.
    void RequestArrived(const std::string& endpoint);

  private:
    void Run();

    const int port_;
    std::mutex lock_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::set<std::string> requested_;
    std::map<std::string, std::chrono::steady_clock::time_point> capSaid_;  // guard thread only
    std::thread thread_;
};

}  // namespace tw
