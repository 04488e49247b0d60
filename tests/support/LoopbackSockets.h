#pragma once

// Sockets on 127.0.0.1 for tests: bound ones, a free port, whether one listens.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace tw::test {

// A socket of `type` (SOCK_STREAM, SOCK_DGRAM) bound on 127.0.0.1 to `port` (0: any
// free one); the port it has in `bound`. -1 when the port is taken.
inline int BindLoopback(int type, int port = 0, int* bound = nullptr) {
    const int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    if (bound) *bound = ntohs(a.sin_port);
    return s;
}

// Whether the loopback is this network's only interface: the namespace a test
// that must not reach a real network runs in (unshare --net).
inline bool OnlyLoopback() {
    struct if_nameindex* all = if_nameindex();
    if (!all) return false;
    int others = 0;
    for (struct if_nameindex* i = all; i->if_index != 0; ++i) others += std::string(i->if_name) != "lo";
    if_freenameindex(all);
    return others == 0;
}

// A port on the loopback that nothing listens on now.
inline int FreePort() {
    int port = 0;
    close(BindLoopback(SOCK_STREAM, 0, &port));
    return port;
}

// Whether something listens on the loopback's `port`.
inline bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

}  // namespace tw::test
