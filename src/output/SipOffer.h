#pragma once

// What a media server answers to an SDP offer (RFC 3264), and what it makes of
// the answer to its own offer: the first codec of the offer we have (PCMU, PCMA,
// G.722), the packet size asked for when it is 10 to 60 ms, our direction
// (sendonly when the caller receives, inactive when it does not), and the checks
// that keep the server from being aimed at a third party: the media address must
// be one host, inside the networks allowed to call. SDP is read by Sofia-SIP's
// parser. Any thread.

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AddressList.h"
#include "SipFanout.h"

namespace tw {

struct SipSdpContext {
    const std::vector<AddressRange>* allow = nullptr;
    // Our address as the host at `peer` sees it (the c= line of what we send).
    std::function<std::string(const sockaddr_storage& peer)> localAddress;
    // Whether our RTP socket can send to an address of this family.
    std::function<bool(const sockaddr_storage& peer)> reaches;
    int port = 0;            // our RTP port
    uint64_t sessionId = 0;  // o= line
    unsigned version = 0;
};

struct SipSdpResult {
    int status = 488;        // 200, or 488 with `why`
    std::string why;         // for the log and the Warning: what was wrong (no SDP text)
    bool media = false;      // a stream to send (false: declined with port 0)
    SipMediaTarget target;
    std::string answer;      // the SDP we send back (an answer to an offer)
    std::string shown;       // "ADDRESS:PORT pcmu 20 ms" for the log
};

// An offer from a caller: our answer, or 488.
SipSdpResult AnswerSdpOffer(const char* sdp, size_t size, const SipSdpContext& context);
// Our offer, for an INVITE that came without one; `peer` is where the INVITE came from.
std::string MakeSdpOffer(const sockaddr_storage& peer, const SipSdpContext& context);
// The caller's answer to our offer (in the ACK).
SipSdpResult ReadSdpAnswer(const char* sdp, size_t size, const SipSdpContext& context);

}  // namespace tw
