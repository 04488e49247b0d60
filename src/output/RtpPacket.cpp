#include "RtpPacket.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tw {
namespace {

void Put16(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 8);
    out[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* out, uint32_t v) {
    Put16(out, v >> 16);
    Put16(out + 2, v & 0xFFFF);
}

uint32_t Get32(const uint8_t* in) {
    return uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
}

}  // namespace

void WriteRtpHeader(const RtpHeader& header, uint8_t* out) {
    out[0] = 0x80;  // version 2, no padding, no extension, no CSRC
    out[1] = static_cast<uint8_t>((header.marker ? 0x80 : 0) | (header.payloadType & 0x7F));
    Put16(out + 2, header.sequence);
    Put32(out + 4, header.timestamp);
    Put32(out + 8, header.ssrc);
}

bool ReadRtpHeader(const uint8_t* bytes, size_t size, RtpHeader& header) {
    if (size < kRtpHeaderBytes || (bytes[0] >> 6) != 2) return false;
    header.marker = (bytes[1] & 0x80) != 0;
    header.payloadType = bytes[1] & 0x7F;
    header.sequence = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
    header.timestamp = Get32(bytes + 4);
    header.ssrc = Get32(bytes + 8);
    return true;
}

size_t WriteSenderReport(const SenderReport& report, uint8_t* out, size_t room) {
    const size_t cname = std::min<size_t>(report.cname.size(), 255);
    // SDES: header, SSRC, CNAME item (type, length, text), then at least one zero
    // byte ending the item list, padded to a 32-bit boundary.
    const size_t sdes = (4 + 4 + 2 + cname + 1 + 3) / 4 * 4;
    const size_t total = 28 + sdes;
    if (room < total) return 0;
    std::memset(out, 0, total);
    out[0] = 0x80;  // version 2, no reception report blocks
    out[1] = 200;   // SR
    Put16(out + 2, 6);
    Put32(out + 4, report.ssrc);
    Put32(out + 8, static_cast<uint32_t>(report.ntpTime >> 32));
    Put32(out + 12, static_cast<uint32_t>(report.ntpTime));
    Put32(out + 16, report.rtpTime);
    Put32(out + 20, report.packets);
    Put32(out + 24, report.octets);
    uint8_t* s = out + 28;
    s[0] = 0x81;  // version 2, one chunk
    s[1] = 202;   // SDES
    Put16(s + 2, static_cast<uint32_t>(sdes / 4 - 1));
    Put32(s + 4, report.ssrc);
    s[8] = 1;  // CNAME
    s[9] = static_cast<uint8_t>(cname);
    std::memcpy(s + 10, report.cname.data(), cname);
    return total;
}

std::string RtpCname() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) std::strcpy(name, "localhost");
    return ("tonewell@" + std::string(name)).substr(0, 100);
}

uint64_t NtpNow() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    constexpr uint64_t kSeconds1900To1970 = 2208988800ULL;
    const uint64_t seconds = static_cast<uint64_t>(since1970 / 1000000000) + kSeconds1900To1970;
    const uint64_t fraction = (static_cast<uint64_t>(since1970 % 1000000000) << 32) / 1000000000;
    return seconds << 32 | fraction;
}

}  // namespace tw
