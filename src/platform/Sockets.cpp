#include "Sockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <cstdlib>

namespace tw {

std::set<int> OpenSockets() {
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

int PortOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

std::string Endpoint(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, host, sizeof host);
    else if (a.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, host, sizeof host);
    return std::string(host) + " " + std::to_string(PortOf(a));
}

bool SocketEnds(int fd, sockaddr_storage& local, sockaddr_storage& peer) {
    socklen_t a = sizeof local, b = sizeof peer;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &a) == 0 &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &b) == 0;
}

}  // namespace tw
