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

void SetPort(sockaddr_storage& a, int port) {
    if (a.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(a).sin_port = htons(static_cast<uint16_t>(port));
    else if (a.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(static_cast<uint16_t>(port));
}

socklen_t AddressLength(const sockaddr_storage& a) {
    return a.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

std::string HostOf(const sockaddr_storage& a) {
    char host[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, host, sizeof host);
    else if (a.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, host, sizeof host);
    return host;
}

std::string Endpoint(const sockaddr_storage& a) {
    return HostOf(a) + " " + std::to_string(PortOf(a));
}

std::string HostPortText(const sockaddr_storage& a) {
    const std::string host = HostOf(a);
    return (a.ss_family == AF_INET6 ? "[" + host + "]" : host) + ":" + std::to_string(PortOf(a));
}

bool IsUnspecified(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr == htonl(INADDR_ANY);
    return a.ss_family == AF_INET6 &&
           IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr);
}

bool SplitHostPort(const std::string& text, bool hostOptional, std::string& host, int& port,
                   std::string& why) {
    const std::string shown = text.substr(0, 60);
    std::string digits;
    host.clear();
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            why = shown + " is not [ADDRESS]:PORT";
            return false;
        }
        host = text.substr(1, close - 1);
        digits = text.substr(close + 2);
    } else if (const size_t colon = text.find(':'); colon == std::string::npos && hostOptional) {
        digits = text;
    } else if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        why = shown + " is not HOST:PORT (an IPv6 address goes in brackets)";
        return false;
    } else {
        host = text.substr(0, colon);
        digits = text.substr(colon + 1);
    }
    char* end = nullptr;
    const long number = std::strtol(digits.c_str(), &end, 10);
    if ((host.empty() && !hostOptional) || digits.empty() || *end != '\0' || number < 1 ||
        number > 65535) {
        why = shown + ": the port must be 1 to 65535";
        return false;
    }
    port = static_cast<int>(number);
    return true;
}

bool SocketEnds(int fd, sockaddr_storage& local, sockaddr_storage& peer) {
    socklen_t a = sizeof local, b = sizeof peer;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &a) == 0 &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &b) == 0;
}

}  // namespace tw
