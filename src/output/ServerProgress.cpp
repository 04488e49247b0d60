#include "ServerProgress.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace tw {
namespace {

int PeerPort(int fd) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
    if (peer.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    if (peer.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
    return -1;
}

}  // namespace

std::set<int> ServerProgress::Sockets() {
    std::set<int> fds;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return fds;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        struct stat st {};
        if (*end == '\0' && end != entry->d_name && ::fstat(static_cast<int>(fd), &st) == 0 &&
            S_ISSOCK(st.st_mode))
            fds.insert(static_cast<int>(fd));
    }
    ::closedir(dir);
    return fds;
}

void ServerProgress::Attach(const std::set<int>& before, int port, Clock::time_point now) {
    fd_ = -1;
    acked_ = 0;
    lastProgress_ = now;
    for (int fd : Sockets())
        if (!before.count(fd) && PeerPort(fd) == port) {
            fd_ = fd;
            return;
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
