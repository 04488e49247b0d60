#pragma once

// The library times out a connection that is idle, not one that is slow: a
// client that sends a byte every few seconds would hold a connection for ever.
// Once a second this looks at every connection to the console's port and shuts
// down those that have not brought a whole request (line, headers and body)
// within 10 seconds, unless the body is an upload that still moves: at least
// 10 KB in every 10 seconds. The server's thread then ends them.
//
// Threads: a thread of its own; RequestArrived and Moved from the server's threads.

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
    // So many bytes of an upload's body came from this peer.
    void Moved(const std::string& endpoint, size_t bytes);

  private:
    void Run();

    const int port_;
    std::mutex lock_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::set<std::string> requested_;
    std::map<std::string, size_t> moved_;
    std::thread thread_;
};

}  // namespace tw
