#pragma once

// Looking at this process's own sockets: for connections that a library keeps to
// itself (libshout's, libmicrohttpd's); and the small things done to an IPv4 or
// IPv6 address everywhere an output or a server names one. Any thread.

#include <sys/socket.h>

#include <set>
#include <string>

namespace tw {

// The descriptors of this process's sockets now.
std::set<int> OpenSockets();

// The port of an IPv4 or IPv6 address; -1 for any other kind.
int PortOf(const sockaddr_storage& address);
void SetPort(sockaddr_storage& address, int port);
// What bind, connect and sendto take as its length.
socklen_t AddressLength(const sockaddr_storage& address);
// The address alone, as inet_ntop writes it ("10.0.0.5", "::1").
std::string HostOf(const sockaddr_storage& address);
// "ADDRESS:PORT", an IPv6 address in brackets ("[::1]:5004").
std::string HostPortText(const sockaddr_storage& address);
// 0.0.0.0 or ::
bool IsUnspecified(const sockaddr_storage& address);

// "HOST:PORT" or "[IPV6]:PORT" (or just "PORT" when `hostOptional`) into the host
// and a port of 1 to 65535; false with why, which names the text.
bool SplitHostPort(const std::string& text, bool hostOptional, std::string& host, int& port,
                   std::string& why);

// "ADDRESS PORT" of an IPv4 or IPv6 address, as the console names a peer.
std::string Endpoint(const sockaddr_storage& address);

// The local and remote addresses of a connected socket; false when it has none.
bool SocketEnds(int fd, sockaddr_storage& local, sockaddr_storage& peer);

}  // namespace tw
