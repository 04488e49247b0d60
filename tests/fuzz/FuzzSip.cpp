// Feeds arbitrary bytes to what the SIP media server makes of a request: the SIP
// stack's parser, then our offer and answer handling of its body (and of the
// bytes as an SDP of their own). Whatever comes in, music may only go to one
// host inside the networks allowed, and what we answer is SDP lines only.
#include <sys/socket.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

#include "AddressList.h"
#include "SipOffer.h"

namespace {

void Check(const tw::SipSdpResult& result, const std::vector<tw::AddressRange>& allow) {
    if (result.status != 200) return;
    if (result.media) {
        const auto* address = reinterpret_cast<const sockaddr*>(&result.target.address);
        if (!tw::InAddressList(allow, address) || !tw::IsUnicastAddress(address)) std::abort();
        if (result.target.ptimeMs < 10 || result.target.ptimeMs > 60 || result.target.ptimeMs % 10) std::abort();
    }
    const std::string& text = result.answer;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos || end - at < 2 || text[at + 1] != '=' ||
            std::string("vostcma").find(text[at]) == std::string::npos)
            std::abort();
        for (size_t i = at; i < end; ++i)
            if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') std::abort();
        at = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<tw::AddressRange> allow = [] {
        std::vector<tw::AddressRange> list;
        std::string why;
        tw::ParseAddressList("10.0.0.0/8, 127.0.0.0/8, fd00::/8", list, why);
        return list;
    }();
    tw::SipSdpContext context;
    context.allow = &allow;
    context.port = 20000;
    context.localAddress = [](const sockaddr_storage&) { return std::string("10.0.0.5"); };
    context.reaches = [](const sockaddr_storage&) { return true; };
    const char* bytes = reinterpret_cast<const char*>(data);
    Check(tw::AnswerSdpOffer(bytes, size, context), allow);
    Check(tw::ReadSdpAnswer(bytes, size, context), allow);
    msg_t* message = msg_make(sip_default_mclass(), 0, data, static_cast<ssize_t>(size));
    if (message) {
        const sip_t* sip = sip_object(message);
        if (sip && sip->sip_payload) {
            Check(tw::AnswerSdpOffer(sip->sip_payload->pl_data, sip->sip_payload->pl_len, context), allow);
            Check(tw::ReadSdpAnswer(sip->sip_payload->pl_data, sip->sip_payload->pl_len, context), allow);
        }
        msg_destroy(message);
    }
    return 0;
}
