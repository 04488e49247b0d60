#pragma once

// Networks in CIDR form ("127.0.0.0/8, ::1/128, 10.0.0.0/24"), and the checks a
// media server makes of an address before it sends anything there: whether it
// lies in the networks allowed, and whether it names one host. An IPv4 address
// written as an IPv6 one (::ffff:10.0.0.5) is taken as the IPv4 address.
// Any thread.

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct AddressRange {
    int family = 0;            // AF_INET or AF_INET6
    uint8_t bytes[16] = {};    // the network, 4 or 16 bytes
    int prefix = 0;            // the bits that must match
};

// False with what is wrong in `why` (an address that is no address, a prefix
// too long); an empty list is allowed.
bool ParseAddressList(const std::string& text, std::vector<AddressRange>& out, std::string& why);
bool InAddressList(const std::vector<AddressRange>& list, const sockaddr* address);
// Not multicast, not a broadcast (255.255.255.255), not 0.0.0.0 or ::.
bool IsUnicastAddress(const sockaddr* address);
// An IPv4 address (or an IPv4-mapped IPv6 one) as IPv4; any other left alone.
void UnmapAddress(sockaddr_storage& address);

}  // namespace tw
