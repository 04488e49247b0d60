#include "ServerProgress.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "Sockets.h"

namespace tw {

void ServerProgress::Attach(const std::set<int>& before, int port, Clock::time_point now) {
    fd_ = -1;
    acked_ = 0;
    lastProgress_ = now;
    for (int fd : OpenSockets()) {
        sockaddr_storage local{}, peer{};
        if (!before.count(fd) && SocketEnds(fd, local, peer) && PortOf(peer) == port) {
            fd_ = fd;
            return;
        }
    }
}

bool ServerProgress::Stalled(size_t queued, Clock::time_point now,
                             std::chrono::milliseconds limit) {
    int unacknowledged = 0;
    if (fd_ >= 0) {
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
            info.tcpi_bytes_acked != acked_) {
            acked_ = info.tcpi_bytes_acked;
            lastProgress_ = now;
        }
        if (::ioctl(fd_, SIOCOUTQ, &unacknowledged) != 0) unacknowledged = 0;
    }
    if (queued == 0 && unacknowledged == 0) lastProgress_ = now;  // nothing waits
    return now - lastProgress_ > limit;
}

}  // namespace tw
