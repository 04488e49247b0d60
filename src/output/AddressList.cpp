#include "AddressList.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

#include "OptionTable.h"

namespace tw {
namespace {

// The bytes of an address (IPv4-mapped ones as IPv4); 0 for another family.
int AddressBytes(const sockaddr* address, uint8_t bytes[16]) {
    if (address->sa_family == AF_INET) {
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        return AF_INET;
    }
    if (address->sa_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a)) {
            std::memcpy(bytes, a.s6_addr + 12, 4);
            return AF_INET;
        }
        std::memcpy(bytes, a.s6_addr, 16);
        return AF_INET6;
    }
    return 0;
}

}  // namespace

bool ParseAddressList(const std::string& text, std::vector<AddressRange>& out, std::string& why) {
    out.clear();
    for (const std::string& item : SplitList(text)) {
        if (item.empty()) continue;
        const size_t slash = item.find('/');
        const std::string host = item.substr(0, slash);
        AddressRange range;
        if (::inet_pton(AF_INET, host.c_str(), range.bytes) == 1) {
            range.family = AF_INET;
        } else if (::inet_pton(AF_INET6, host.c_str(), range.bytes) == 1) {
            range.family = AF_INET6;
            if (IN6_IS_ADDR_V4MAPPED(reinterpret_cast<in6_addr*>(range.bytes))) {
                std::memmove(range.bytes, range.bytes + 12, 4);
                std::memset(range.bytes + 4, 0, 12);
                range.family = AF_INET;
            }
        } else {
            why = item.substr(0, 60) + " is not ADDRESS/BITS";
            return false;
        }
        const int most = range.family == AF_INET ? 32 : 128;
        range.prefix = most;
        if (slash != std::string::npos) {
            const std::string bits = item.substr(slash + 1);
            char* end = nullptr;
            const long prefix = std::strtol(bits.c_str(), &end, 10);
            if (bits.empty() || *end != '\0' || prefix < 0 || prefix > most) {
                why = item.substr(0, 60) + ": the bits after / must be 0 to " + std::to_string(most);
                return false;
            }
            range.prefix = static_cast<int>(prefix);
        }
        out.push_back(range);
    }
    return true;
}

bool InAddressList(const std::vector<AddressRange>& list, const sockaddr* address) {
    uint8_t bytes[16] = {};
    const int family = AddressBytes(address, bytes);
    for (const AddressRange& range : list) {
        if (range.family != family) continue;
        const int whole = range.prefix / 8, rest = range.prefix % 8;
        if (std::memcmp(bytes, range.bytes, static_cast<size_t>(whole)) != 0) continue;
        if (rest != 0) {
            const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
            if ((bytes[whole] & mask) != (range.bytes[whole] & mask)) continue;
        }
        return true;
    }
    return false;
}

bool IsUnicastAddress(const sockaddr* address) {
    uint8_t bytes[16] = {};
    const int family = AddressBytes(address, bytes);
    if (family == AF_INET) {
        uint32_t v4;
        std::memcpy(&v4, bytes, 4);
        v4 = ntohl(v4);
        return v4 != 0 && v4 != 0xFFFFFFFFu && !IN_MULTICAST(v4);
    }
    if (family == AF_INET6) {
        in6_addr a;
        std::memcpy(&a, bytes, 16);
        return !IN6_IS_ADDR_UNSPECIFIED(&a) && !IN6_IS_ADDR_MULTICAST(&a);
    }
    return false;
}

void UnmapAddress(sockaddr_storage& address) {
    if (address.ss_family != AF_INET6) return;
    const sockaddr_in6 six = reinterpret_cast<const sockaddr_in6&>(address);
    if (!IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) return;
    sockaddr_in four{};
    four.sin_family = AF_INET;
    four.sin_port = six.sin6_port;
    std::memcpy(&four.sin_addr, six.sin6_addr.s6_addr + 12, 4);
    std::memset(&address, 0, sizeof address);
    std::memcpy(&address, &four, sizeof four);
}

}  // namespace tw
