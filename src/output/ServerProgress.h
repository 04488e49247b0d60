#pragma once

// How much of a stream a server has taken, seen from our side of its TCP
// connection: the bytes it acknowledged. A server that accepts and then stops
// reading leaves the kernel's send buffer (megabytes on a fast link) to fill for
// minutes while every send succeeds; what it acknowledges stops at once (after
// its own receive buffer fills).
//
// libshout keeps its socket to itself: the socket is found as the one connection
// to the server's port that a connect made.
//
// Used by the stream's thread only.

#include <chrono>
#include <cstdint>
#include <set>

namespace tw {

class ServerProgress {
  public:
    using Clock = std::chrono::steady_clock;

    // Follows the socket connected to `port` that is not among `before` (this
    // process's sockets before the connect, from OpenSockets; none
    // found: Stalled only ever looks at `queued`).
    void Attach(const std::set<int>& before, int port, Clock::time_point now);
    void Detach() { fd_ = -1; }
    // True when bytes wait for the server (in libshout's queue, `queued`, or the
    // kernel's) and it has taken none of them for `limit`.
    bool Stalled(size_t queued, Clock::time_point now, std::chrono::milliseconds limit);

  private:
    int fd_ = -1;
    uint64_t acked_ = 0;
    Clock::time_point lastProgress_{};
};

}  // namespace tw
