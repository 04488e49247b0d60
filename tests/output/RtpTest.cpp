// What leaves the RTP output, read by real sockets: G.711 codes against sox's,
// headers, timing fields, the DSCP mark, sender reports, and a destination that
// refuses the stream beside one that takes it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "G711.h"
#include "LoopbackSockets.h"
#include "RtpPacket.h"
#include "RtpSink.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class G711 : public tw::test::TempFolderTest {};

// sox is what admins use to make G.711 files for their PBX; its codes and ours
// must be the same for every sample.
TEST_F(G711, EveryCodeIsTheOneSoxMakes) {
    std::vector<int16_t> all;
    for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<int16_t>(v));
    {
        std::ofstream out("all.raw", std::ios::binary);
        out.write(reinterpret_cast<const char*>(all.data()),
                  static_cast<std::streamsize>(all.size() * 2));
    }
    const std::string in = "-t raw -r 8000 -e signed -b 16 -c 1 all.raw";
    ASSERT_EQ(std::system(("sox -D " + in + " -t raw -e u-law ulaw.raw").c_str()), 0);
    ASSERT_EQ(std::system(("sox -D " + in + " -t raw -e a-law alaw.raw").c_str()), 0);
    const std::string ulaw = ReadBytes("ulaw.raw"), alaw = ReadBytes("alaw.raw");
    ASSERT_EQ(ulaw.size(), all.size());
    ASSERT_EQ(alaw.size(), all.size());
    std::vector<uint8_t> mine(all.size());
    tw::EncodeUlaw(all.data(), all.size(), mine.data());
    size_t differ = 0;
    for (size_t i = 0; i < all.size(); ++i) differ += mine[i] != static_cast<uint8_t>(ulaw[i]);
    EXPECT_EQ(differ, 0u) << "u-law";
    tw::EncodeAlaw(all.data(), all.size(), mine.data());
    differ = 0;
    for (size_t i = 0; i < all.size(); ++i) differ += mine[i] != static_cast<uint8_t>(alaw[i]);
    EXPECT_EQ(differ, 0u) << "A-law";
    // And back: each of the 256 codes means what sox says it means.
    {
        std::ofstream out("codes.raw", std::ios::binary);
        for (int c = 0; c < 256; ++c) out.put(static_cast<char>(c));
    }
    for (const char* law : {"u-law", "a-law"}) {
        const std::string cmd = std::string("sox -t raw -r 8000 -e ") + law +
                                " -b 8 -c 1 codes.raw -t raw -e signed -b 16 back.raw";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const std::string back = ReadBytes("back.raw");
        ASSERT_EQ(back.size(), 512u);
        for (int c = 0; c < 256; ++c) {
            int16_t v;
            std::memcpy(&v, back.data() + 2 * c, 2);
            const int16_t ours = law[0] == 'u' ? tw::UlawToLinear(static_cast<uint8_t>(c))
                                               : tw::AlawToLinear(static_cast<uint8_t>(c));
            EXPECT_EQ(ours, v) << law << " code " << c;
        }
    }
}

// A UDP socket on 127.0.0.1 with the port above it bound too, for RTCP.
struct Receiver {
    int media = -1, control = -1, port = 0;
    Receiver() {
        for (int tries = 0; tries < 50 && port == 0; ++tries) {
            const int p = 20000 + 2 * (std::rand() % 15000);
            media = tw::test::BindLoopback(SOCK_DGRAM, p);
            control = media >= 0 ? tw::test::BindLoopback(SOCK_DGRAM, p + 1) : -1;
            if (media >= 0 && control >= 0) port = p;
            else {
                if (media >= 0) close(media);
                media = -1;
            }
        }
        const int on = 1;
        setsockopt(media, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
    }
    ~Receiver() {
        close(media);
        close(control);
    }
    // One datagram within `ms`; its TOS byte in `tos` (media socket only).
    static std::string Receive(int fd, int ms, int* tos = nullptr) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return "";
        char data[2048], space[256];
        iovec io{data, sizeof data};
        msghdr m{};
        m.msg_iov = &io;
        m.msg_iovlen = 1;
        m.msg_control = space;
        m.msg_controllen = sizeof space;
        const ssize_t n = recvmsg(fd, &m, 0);
        if (n <= 0) return "";
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c && tos; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS)
                *tos = *reinterpret_cast<unsigned char*>(CMSG_DATA(c));
        return {data, static_cast<size_t>(n)};
    }
};

// A 1 kHz tone as stereo frames at `rate`.
std::vector<float> Tone(int rate, int frames, int& phase) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i, ++phase)
        out[2 * i] = out[2 * i + 1] = 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * phase / rate));
    return out;
}

TEST(RtpSink, PacketsCarryTheToneWithRunningHeadersTheVoiceMarkAndReports) {
    Receiver good;
    ASSERT_GT(good.port, 0);
    // A port nobody listens on: the machine answers each packet with "port unreachable".
    int deafPort = 0;
    close(tw::test::BindLoopback(SOCK_DGRAM, 0, &deafPort));

    tw::RtpSettings settings;
    std::string why;
    ASSERT_TRUE(tw::ResolveRtpTargets("127.0.0.1:" + std::to_string(deafPort) + ", 127.0.0.1:" +
                                          std::to_string(good.port),
                                      settings.to, why))
        << why;
    settings.codec = "pcma";
    settings.ptimeMs = 30;
    tw::RtpSink sink(settings);
    ASSERT_EQ(sink.rate(), 8000);
    ASSERT_EQ(sink.blockFrames(), 240);
    int phase = 0;
    std::vector<std::string> packets;
    int tos = -1;
    for (int i = 0; i < 50; ++i) {
        // Blocks that are not whole packets still make whole packets.
        const auto tone = Tone(8000, i % 2 ? 200 : 280, phase);
        sink.Consume(tone.data(), static_cast<int>(tone.size() / 2));
        for (std::string p; !(p = Receiver::Receive(good.media, 0, &tos)).empty();) packets.push_back(p);
    }
    for (std::string p; !(p = Receiver::Receive(good.media, 200, &tos)).empty();) packets.push_back(p);
    ASSERT_EQ(packets.size(), 50u * 240 / 240) << "every packet reaches the destination that takes it";
    EXPECT_EQ(tos, 46 << 2) << "voice is marked Expedited Forwarding";

    tw::RtpHeader first, h;
    ASSERT_TRUE(tw::ReadRtpHeader(reinterpret_cast<const uint8_t*>(packets[0].data()), packets[0].size(), first));
    EXPECT_TRUE(first.marker);
    EXPECT_EQ(first.payloadType, 8);
    std::vector<int16_t> decoded;
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(packets[i].data());
        ASSERT_EQ(packets[i].size(), tw::kRtpHeaderBytes + 240);
        ASSERT_TRUE(tw::ReadRtpHeader(bytes, packets[i].size(), h));
        EXPECT_EQ(h.ssrc, first.ssrc);
        EXPECT_EQ(h.marker, i == 0);
        EXPECT_EQ(static_cast<uint16_t>(h.sequence - first.sequence), i);
        EXPECT_EQ(h.timestamp - first.timestamp, 240u * i);
        for (size_t j = tw::kRtpHeaderBytes; j < packets[i].size(); ++j)
            decoded.push_back(tw::AlawToLinear(bytes[j]));
    }
    std::vector<float> heard(decoded.begin(), decoded.end()), sent;
    phase = 0;
    const auto tone = Tone(8000, static_cast<int>(heard.size()), phase);
    for (size_t i = 0; i < tone.size(); i += 2) sent.push_back(tone[i] * 32768.0f);
    EXPECT_NEAR(tw::test::Db(tw::test::ToneMagnitude(heard, 8000, 1000) /
                             tw::test::ToneMagnitude(sent, 8000, 1000)),
                0.0, 0.5);

    // The sender report: SSRC, the packets and bytes so far, and a CNAME.
    const std::string report = Receiver::Receive(good.control, 500);
    ASSERT_GE(report.size(), 28u + 12u);
    const auto* r = reinterpret_cast<const uint8_t*>(report.data());
    EXPECT_EQ(r[1], 200);
    EXPECT_EQ(uint32_t{r[4]} << 24 | uint32_t{r[5]} << 16 | uint32_t{r[6]} << 8 | r[7], first.ssrc);
    EXPECT_EQ(r[29], 202);
    EXPECT_EQ(r[36], 1);
    EXPECT_EQ(report.substr(38, 9), "tonewell@");
    EXPECT_EQ(report.size() % 4, 0u);

    // The refusing destination is said, and did not stop the other.
    EXPECT_NE(sink.State().find(std::to_string(deafPort) + " refuses it"), std::string::npos)
        << sink.State();
    EXPECT_EQ(sink.packetsSent(), 50u);
}

}  // namespace
