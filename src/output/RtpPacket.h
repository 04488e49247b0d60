#pragma once

// The bytes of RTP and RTCP packets (RFC 3550): the 12-byte header of a media
// packet, and the compound RTCP packet of a sender (a sender report and a CNAME).
// Any thread.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

constexpr size_t kRtpHeaderBytes = 12;

struct RtpHeader {
    uint8_t payloadType = 0;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
};

void WriteRtpHeader(const RtpHeader& header, uint8_t* out);
// False when `bytes` is no RTP version-2 packet.
bool ReadRtpHeader(const uint8_t* bytes, size_t size, RtpHeader& header);

struct SenderReport {
    uint32_t ssrc = 0;
    uint64_t ntpTime = 0;  // seconds since 1900 in the top 32 bits, the fraction below
    uint32_t rtpTime = 0;
    uint32_t packets = 0;
    uint32_t octets = 0;   // payload bytes sent
    std::string cname;     // at most 255 bytes are sent
};

// The compound packet (SR, then SDES with the CNAME) into `out`; its length, or 0
// when `room` is too small.
size_t WriteSenderReport(const SenderReport& report, uint8_t* out, size_t room);

// The wall clock in NTP form, for a sender report.
uint64_t NtpNow();

// This sender's CNAME: "tonewell@HOST" (at most 100 bytes).
std::string RtpCname();

}  // namespace tw
