#include "SipOffer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>

#include <sofia-sip/sdp.h>
#include <sofia-sip/su_alloc.h>

#include "Sockets.h"

namespace tw {
namespace {

struct Codec {
    const char* name;
    SipCodec codec;
    uint8_t staticType;
};
constexpr Codec kCodecs[] = {
    {"PCMU", SipCodec::Pcmu, 0}, {"PCMA", SipCodec::Pcma, 8}, {"G722", SipCodec::G722, 9}};

const char* CodecName(SipCodec codec) {
    return codec == SipCodec::Pcmu ? "pcmu" : codec == SipCodec::Pcma ? "pcma" : "g722";
}

// Whether an m= line is as RFC 4566 writes it: "m=" media SP port["/"count] SP
// proto SP fmt *(SP fmt), each a token. Sofia-SIP 1.12's parser loops without
// end, allocating, on some m= lines that are not (a port followed by ':', a
// transport followed by a tab), so no other m= line reaches it.
bool MediaLineIsWellFormed(const std::string& line) {
    auto token = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-.!%*_+`'~", c);
    };
    size_t at = 2;
    auto word = [&](auto allowed) {
        const size_t start = at;
        while (at < line.size() && allowed(line[at])) ++at;
        return at > start;
    };
    auto space = [&] { return at < line.size() && line[at++] == ' '; };
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (!word(token) || !space() || !word(digit)) return false;
    if (at < line.size() && line[at] == '/' && (++at, !word(digit))) return false;
    if (!space() || !word(token)) return false;
    while (at < line.size() && line[at] == '/')
        if (++at, !word(token)) return false;
    if (!space() || !word(token)) return false;
    while (at < line.size())
        if (!space() || !word(token)) return false;
    return true;
}

// A parse held for one answer: the parser's memory goes with it.
class ParsedSdp {
  public:
    ParsedSdp(const char* text, size_t size) {
        su_home_init(home_);
        // An SDP body over 16 KB is no offer a phone system makes. The parser is
        // given plain text only: a tab or any other control byte (or one over
        // 0x7E) after the transport of an m= line sends Sofia-SIP 1.12's parser
        // into allocating without end, so each is replaced by '_' first.
        if (text && size > 0 && size <= 16384) {
            plain_.assign(text, size);
            for (char& c : plain_)
                if ((c < 0x20 || c > 0x7E) && c != '\r' && c != '\n') c = '_';
            bool wellFormed = true;
            for (size_t at = 0; at < plain_.size() && wellFormed;) {
                size_t end = plain_.find_first_of("\r\n", at);
                if (end == std::string::npos) end = plain_.size();
                if (plain_.compare(at, 2, "m=") == 0) wellFormed = MediaLineIsWellFormed(plain_.substr(at, end - at));
                at = end + 1;
            }
            if (wellFormed) parser_ = sdp_parse(home_, plain_.data(), static_cast<int>(plain_.size()), 0);
        }
        session_ = parser_ ? sdp_session(parser_) : nullptr;
    }
    ~ParsedSdp() {
        if (parser_) sdp_parser_free(parser_);
        su_home_deinit(home_);
    }
    ParsedSdp(const ParsedSdp&) = delete;
    ParsedSdp& operator=(const ParsedSdp&) = delete;
    sdp_session_t* session() const { return session_; }

  private:
    su_home_t home_[1] = {SU_HOME_INIT(home_)};
    std::string plain_;
    sdp_parser_t* parser_ = nullptr;
    sdp_session_t* session_ = nullptr;
};

bool IsRtpAvp(const sdp_media_t* m) {
    return m->m_proto == sdp_proto_rtp && m->m_proto_name &&
           strcasecmp(m->m_proto_name, "RTP/AVP") == 0;
}

// The first codec of ours in the media line, in the order the caller gave.
const sdp_rtpmap_t* FirstCodec(const sdp_media_t* m, const Codec** which) {
    for (const sdp_rtpmap_t* map = m->m_rtpmaps; map; map = map->rm_next) {
        if (!map->rm_encoding || map->rm_rate != 8000) continue;
        for (const Codec& codec : kCodecs)
            if (strcasecmp(map->rm_encoding, codec.name) == 0) {
                *which = &codec;
                return map;
            }
    }
    return nullptr;
}

int PacketMs(const sdp_media_t* m) {
    const sdp_attribute_t* a = sdp_attribute_find(m->m_attributes, "ptime");
    if (!a && m->m_session) a = sdp_attribute_find(m->m_session->sdp_attributes, "ptime");
    if (!a || !a->a_value) return 20;
    const long ms = std::strtol(a->a_value, nullptr, 10);
    if (ms < 10 || ms > 60) return 20;
    return static_cast<int>((ms + 5) / 10 * 10);
}

unsigned Mode(const sdp_media_t* m) {
    unsigned mode = m->m_mode;
    if (m->m_session) mode &= sdp_attribute_mode(m->m_session->sdp_attributes, sdp_sendrecv);
    return mode;
}

// The media address of a line: its own c=, else the session's.
bool MediaAddress(const sdp_media_t* m, unsigned long port, sockaddr_storage& out, std::string& why) {
    const sdp_connection_t* c = m->m_connections ? m->m_connections : m->m_session->sdp_connection;
    if (!c || !c->c_address) {
        why = "no media address";
        return false;
    }
    std::memset(&out, 0, sizeof out);
    if (c->c_addrtype == sdp_addr_ip4) {
        auto& four = reinterpret_cast<sockaddr_in&>(out);
        four.sin_family = AF_INET;
        four.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, c->c_address, &four.sin_addr) == 1) return true;
    } else if (c->c_addrtype == sdp_addr_ip6) {
        auto& six = reinterpret_cast<sockaddr_in6&>(out);
        six.sin6_family = AF_INET6;
        six.sin6_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET6, c->c_address, &six.sin6_addr) == 1) return true;
    }
    why = "the media address is no IP address";
    return false;
}

std::string Origin(const std::string& address, const SipSdpContext& context) {
    const bool six = address.find(':') != std::string::npos;
    char text[256];
    std::snprintf(text, sizeof text,
                  "v=0\r\no=tonewell %llu %u IN %s %s\r\ns=Tonewell\r\nc=IN %s %s\r\nt=0 0\r\n",
                  static_cast<unsigned long long>(context.sessionId), context.version,
                  six ? "IP6" : "IP4", address.c_str(), six ? "IP6" : "IP4", address.c_str());
    return text;
}

// Checks the line we chose and fills `result`; false with why.
bool Judge(const sdp_media_t* m, const SipSdpContext& context, SipSdpResult& result) {
    const Codec* codec = nullptr;
    const sdp_rtpmap_t* map = FirstCodec(m, &codec);
    if (!map) {
        result.why = "none of its codecs is PCMU, PCMA or G722";
        return false;
    }
    result.target.codec = codec->codec;
    result.target.payloadType = static_cast<uint8_t>(map->rm_pt);
    result.target.ptimeMs = PacketMs(m);
    if (m->m_port == 0 || m->m_rejected) {
        result.media = false;
        return true;
    }
    if (m->m_port > 65535) {
        result.why = "the media port is over 65535";
        return false;
    }
    if (!MediaAddress(m, m->m_port, result.target.address, result.why)) return false;
    const auto* address = reinterpret_cast<const sockaddr*>(&result.target.address);
    if (!IsUnicastAddress(address)) {
        result.why = "the media address is not one host (multicast, broadcast or unspecified)";
        return false;
    }
    if (!context.allow || !InAddressList(*context.allow, address)) {
        result.why = "the media address is outside sip-allow";
        return false;
    }
    if (context.reaches && !context.reaches(result.target.address)) {
        result.why = "the media address is of a family this server does not send to";
        return false;
    }
    result.media = true;
    result.shown = HostPortText(result.target.address) + " " + CodecName(codec->codec) + " " +
                   std::to_string(result.target.ptimeMs) + " ms";
    return true;
}

}  // namespace

SipSdpResult AnswerSdpOffer(const char* sdp, size_t size, const SipSdpContext& context) {
    SipSdpResult result;
    ParsedSdp parsed(sdp, size);
    const sdp_session_t* session = parsed.session();
    if (!session) {
        result.why = "the SDP cannot be read";
        return result;
    }
    if (!session->sdp_media) {
        result.why = "the SDP has no media line";
        return result;
    }
    // The first audio line over RTP/AVP with a codec of ours carries the music;
    // every other line is declined (port 0), as many lines as the offer has.
    const sdp_media_t* chosen = nullptr;
    std::string firstWhy;
    for (const sdp_media_t* m = session->sdp_media; m && !chosen; m = m->m_next) {
        if (m->m_type != sdp_media_audio || !IsRtpAvp(m)) continue;
        SipSdpResult tried;
        if (Judge(m, context, tried)) {
            chosen = m;
            result = tried;
        } else if (firstWhy.empty()) {
            firstWhy = tried.why;
        }
    }
    if (!chosen) {
        result = SipSdpResult{};
        result.why = firstWhy.empty() ? "the SDP has no audio line over RTP/AVP" : firstWhy;
        return result;
    }
    const unsigned mode = Mode(chosen);
    // We send when the caller receives; a caller that only sends, or holds the
    // call itself, gets nothing until it asks again.
    result.target.send = (mode & sdp_recvonly) != 0;
    sockaddr_storage peer = result.target.address;
    std::string local = context.localAddress ? context.localAddress(peer) : std::string("127.0.0.1");
    std::string text = Origin(local, context);
    for (const sdp_media_t* m = session->sdp_media; m; m = m->m_next) {
        const char* type = m->m_type_name ? m->m_type_name : "audio";
        const char* proto = m->m_proto_name ? m->m_proto_name : "RTP/AVP";
        const char* format = m->m_format && m->m_format->l_text ? m->m_format->l_text : "0";
        char line[512];
        if (m != chosen || !result.media) {
            std::snprintf(line, sizeof line, "m=%.32s 0 %.32s %.16s\r\n", type, proto,
                          m == chosen ? std::to_string(result.target.payloadType).c_str() : format);
        } else {
            const char* name = result.target.codec == SipCodec::Pcmu   ? "PCMU"
                               : result.target.codec == SipCodec::Pcma ? "PCMA"
                                                                       : "G722";
            std::snprintf(line, sizeof line,
                          "m=audio %d RTP/AVP %u\r\na=rtpmap:%u %s/8000\r\na=ptime:%d\r\na=%s\r\n",
                          context.port, result.target.payloadType, result.target.payloadType, name,
                          result.target.ptimeMs, result.target.send ? "sendonly" : "inactive");
        }
        text += line;
    }
    result.answer = text;
    result.status = 200;
    return result;
}

std::string MakeSdpOffer(const sockaddr_storage& peer, const SipSdpContext& context) {
    const std::string local = context.localAddress ? context.localAddress(peer) : "127.0.0.1";
    char media[256];
    std::snprintf(media, sizeof media,
                  "m=audio %d RTP/AVP 0 8 9\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:8 PCMA/8000\r\n"
                  "a=rtpmap:9 G722/8000\r\na=ptime:20\r\na=sendonly\r\n",
                  context.port);
    return Origin(local, context) + media;
}

SipSdpResult ReadSdpAnswer(const char* sdp, size_t size, const SipSdpContext& context) {
    SipSdpResult result;
    ParsedSdp parsed(sdp, size);
    const sdp_session_t* session = parsed.session();
    if (!session || !session->sdp_media) {
        result.why = !session ? "the SDP cannot be read" : "the SDP has no media line";
        return result;
    }
    const sdp_media_t* m = session->sdp_media;  // our offer had one line
    if (m->m_type != sdp_media_audio || !IsRtpAvp(m)) {
        result.why = "the answer's line is no audio over RTP/AVP";
        return result;
    }
    if (!Judge(m, context, result)) return result;
    result.target.send = (Mode(m) & sdp_recvonly) != 0;
    result.status = 200;
    return result;
}

}  // namespace tw
