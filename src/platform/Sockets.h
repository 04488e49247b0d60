#pragma once

// Looking at this process's own sockets: for connections that a library keeps to
// itself (libshout's, libmicrohttpd's). Any thread.

#include <sys/socket.h>

#include <set>
#include <string>

namespace tw {

// The descriptors of this process's sockets now.
std::set<int> OpenSockets();

// The port of an IPv4 or IPv6 address; -1 for any other kind.
int PortOf(const sockaddr_storage& address);

// "ADDRESS PORT" of an IPv4 or IPv6 address, as the console names a peer.
std::string Endpoint(const sockaddr_storage& address);

// The local and remote addresses of a connected socket; false when it has none.
bool SocketEnds(int fd, sockaddr_storage& local, sockaddr_storage& peer);

}  // namespace tw
