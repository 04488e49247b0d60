// The SIP media server on a network of its own: this program runs inside a
// network namespace with only the loopback up (unshare --net), so that whatever
// the code under test does, no packet leaves this machine. A caller written out
// by hand (SipCaller) dials the server as a PBX would, from 127.0.0.1 or from
// 127.0.0.2, and listens for the RTP it is sent.

#include <gtest/gtest.h>
#include <net/if.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "G711.h"
#include "LoopbackSockets.h"
#include "Pacer.h"
#include "RtpPacket.h"
#include "SipCaller.h"
#include "SipServer.h"
#include "Wav.h"

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/g722.h>
}

namespace {

using tw::test::OnlyLoopback;
using tw::test::RtpArrival;
using tw::test::SipCaller;


bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

tw::RtpHeader HeaderOf(const RtpArrival& packet) {
    tw::RtpHeader header;
    tw::ReadRtpHeader(packet.bytes.data(), packet.bytes.size(), header);
    return header;
}

// The 1 kHz tone as the packets carry it (G.711 by our tables, G.722 by
// libspandsp's decoder), in dB against the tone the server is fed.
double ToneDb(const std::vector<RtpArrival>& packets) {
    std::vector<float> samples;
    int rate = 8000;
    g722_decode_state_t* g722 = nullptr;
    for (const RtpArrival& packet : packets) {
        const uint8_t* payload = packet.bytes.data() + 12;
        const size_t size = packet.bytes.size() - 12;
        const int type = packet.bytes[1] & 0x7F;
        if (type == 9) {
            if (!g722) g722 = g722_decode_init(nullptr, 64000, 0);
            std::vector<int16_t> wide(2 * size);
            const int n = g722_decode(g722, wide.data(), payload, static_cast<int>(size));
            for (int i = 0; i < n; ++i) samples.push_back(wide[static_cast<size_t>(i)] / 32768.0f);
            rate = 16000;
        } else {
            for (size_t i = 0; i < size; ++i)
                samples.push_back((type == 8 ? tw::AlawToLinear(payload[i]) : tw::UlawToLinear(payload[i])) / 32768.0f);
        }
    }
    if (g722) g722_decode_free(g722);
    // Past the first packets (the resampler's start).
    samples.erase(samples.begin(), samples.begin() + std::min<long>(rate / 10, static_cast<long>(samples.size())));
    std::vector<float> fed(samples.size());
    for (size_t i = 0; i < fed.size(); ++i) fed[i] = 0.25f * static_cast<float>(std::sin(2 * M_PI * 1000 * i / rate));
    return tw::test::Db(tw::test::ToneMagnitude(samples, rate, 1000) / tw::test::ToneMagnitude(fed, rate, 1000));
}

// The longest time between two packets, in ms.
double LongestGapMs(const std::vector<RtpArrival>& packets) {
    double most = 0;
    for (size_t i = 1; i < packets.size(); ++i)
        most = std::max(most, std::chrono::duration<double, std::milli>(packets[i].at - packets[i - 1].at).count());
    return most;
}

class SipNetwork : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(OnlyLoopback()) << "run me through unshare --net"; }

    void Start(const std::string& allow = "127.0.0.0/8", int maxCalls = 1000) {
        tw::SipSettings settings;
        std::string why;
        port = tw::test::FreePort();
        ASSERT_TRUE(tw::ParseSipListen("127.0.0.1:" + std::to_string(port), settings.local, settings.port, why));
        ASSERT_TRUE(tw::ParseAddressList(allow, settings.allow, why)) << why;
        settings.maxCalls = maxCalls;
        server = std::make_unique<tw::SipServer>(settings);
        ASSERT_TRUE(server->Start(why)) << why;
        // The mix: a 1 kHz tone, 10 ms at a time on the monotonic clock.
        feeder = std::thread([this] {
            tw::Pacer pacer(std::chrono::milliseconds(10));
            std::vector<float> block(2 * tw::SipFanout::kTickFrames);
            long n = 0;
            while (!stop) {
                pacer.Wait();
                for (int i = 0; i < tw::SipFanout::kTickFrames; ++i, ++n)
                    block[2 * i] = block[2 * i + 1] = 0.25f * static_cast<float>(std::sin(2 * M_PI * 1000 * n / 16000.0));
                server->Consume(block.data(), tw::SipFanout::kTickFrames);
            }
        });
    }
    void TearDown() override {
        stop = true;
        if (feeder.joinable()) feeder.join();
        server.reset();
    }

    int port = 0;
    std::unique_ptr<tw::SipServer> server;
    std::thread feeder;
    std::atomic<bool> stop{false};
};

// Who may call, and where the music may go: a caller outside sip-allow gets 403,
// a media address that is a group, no address or outside sip-allow gets 488, and
// in each case not one RTP packet leaves.
TEST_F(SipNetwork, IsNoReflector) {
    Start("127.0.0.1/32");
    SipCaller outsider("127.0.0.2", port);
    EXPECT_EQ(outsider.Call(outsider.Sdp()), 403);
    outsider.NewDialog();
    outsider.Send("OPTIONS");
    EXPECT_EQ(SipCaller::Status(outsider.Next()), 403);

    SipCaller caller("127.0.0.1", port);
    std::string answer;
    for (const char* media : {"239.1.1.1", "127.0.0.2", "0.0.0.0", "255.255.255.255"}) {
        EXPECT_EQ(caller.Call(caller.Sdp("sendrecv", "0", media), "", &answer), 488) << media;
        EXPECT_TRUE(Has(answer, "Warning: 399")) << answer;
        caller.NewDialog();
    }
    EXPECT_TRUE(outsider.Receive(300).empty());
    EXPECT_TRUE(caller.Receive(10).empty());
    EXPECT_EQ(server->fanout().packetsSent(), 0u);
    EXPECT_EQ(server->Calls().now, 0);

    // The keep-alive of proxies: 200 with what we take.
    caller.Send("OPTIONS");
    const std::string options = caller.Next();
    EXPECT_EQ(SipCaller::Status(options), 200);
    EXPECT_TRUE(Has(options, "Allow: INVITE, ACK, BYE, CANCEL, OPTIONS")) << options;
    EXPECT_TRUE(Has(options, "Accept: application/sdp")) << options;
}

// Offer and answer as call managers make them: the first codec we have and the
// packet size asked for; a caller that holds the call gets nothing until it asks
// again (same stream, running on); BYE stops it at once; a delayed offer gets
// ours and its answer comes in the ACK.
TEST_F(SipNetwork, AnswersOffersAndFollowsReInvites) {
    Start();
    SipCaller caller("127.0.0.1", port);
    std::string answer;
    ASSERT_EQ(caller.Call(caller.Sdp("sendrecv", "18 8 0", "", -1, "a=ptime:30\r\n"), "", &answer), 200);
    const std::string sdp = SipCaller::Body(answer);
    EXPECT_TRUE(Has(sdp, "RTP/AVP 8\r\n")) << sdp;
    EXPECT_TRUE(Has(sdp, "a=ptime:30\r\n")) << sdp;
    EXPECT_TRUE(Has(sdp, "a=sendonly\r\n")) << sdp;
    std::vector<RtpArrival> packets = caller.Receive(600);
    ASSERT_GE(packets.size(), 15u);
    const tw::RtpHeader first = HeaderOf(packets.front());
    EXPECT_EQ(first.payloadType, 8);
    EXPECT_TRUE(first.marker);
    for (size_t i = 1; i < packets.size(); ++i) {
        const tw::RtpHeader h = HeaderOf(packets[i]);
        EXPECT_EQ(packets[i].bytes.size(), 12u + 240u);
        EXPECT_FALSE(h.marker);
        EXPECT_EQ(h.ssrc, first.ssrc);
        EXPECT_EQ(static_cast<uint16_t>(h.sequence - HeaderOf(packets[i - 1]).sequence), 1);
        EXPECT_EQ(h.timestamp - HeaderOf(packets[i - 1]).timestamp, 240u);
    }
    EXPECT_LT(LongestGapMs(packets), 45);
    EXPECT_NEAR(ToneDb(packets), 0.0, 1.0);
    EXPECT_EQ(server->Calls().now, 1);

    // On hold from the caller's side, then back.
    caller.Send("INVITE", caller.Sdp("inactive"));
    std::string reply = caller.Next();
    ASSERT_EQ(SipCaller::Status(reply), 200);
    caller.Send("ACK");
    EXPECT_TRUE(Has(SipCaller::Body(reply), "a=inactive\r\n"));
    caller.Receive(60);  // what was on its way
    EXPECT_TRUE(caller.Receive(300).empty());
    caller.Send("INVITE", caller.Sdp("sendrecv", "8"));
    ASSERT_EQ(SipCaller::Status(caller.Next()), 200);
    caller.Send("ACK");
    packets = caller.Receive(300);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(HeaderOf(packets.front()).ssrc, first.ssrc);

    // Moved to another port: the stream follows, nothing goes to the old one.
    int moved = 0;
    const int other = tw::test::BindUdp("127.0.0.1", moved);
    caller.Send("INVITE", caller.Sdp("sendrecv", "8", "", moved));
    ASSERT_EQ(SipCaller::Status(caller.Next()), 200);
    caller.Send("ACK");
    caller.Receive(60);
    EXPECT_TRUE(caller.Receive(200).empty()) << "packets to the old port";
    pollfd p{other, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 200), 1) << "nothing at the new port";
    close(other);

    caller.Send("BYE");
    EXPECT_EQ(SipCaller::Status(caller.Next()), 200);
    caller.Receive(40);
    EXPECT_TRUE(caller.Receive(300).empty()) << "packets after the BYE";
    caller.Send("BYE");
    EXPECT_EQ(SipCaller::Status(caller.Next()), 481);

    // A caller that only sends gets an inactive answer and nothing.
    caller.NewDialog();
    ASSERT_EQ(caller.Call(caller.Sdp("sendonly"), "", &answer), 200);
    EXPECT_TRUE(Has(SipCaller::Body(answer), "a=inactive\r\n"));
    EXPECT_TRUE(caller.Receive(300).empty());
    caller.Send("BYE");
    caller.Next();

    // Offers we cannot take, and a stream declined with port 0.
    caller.NewDialog();
    EXPECT_EQ(caller.Call(caller.Sdp("sendrecv", "18 3")), 488);
    caller.NewDialog();
    EXPECT_EQ(caller.Call("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"), 488);
    caller.NewDialog();
    ASSERT_EQ(caller.Call(caller.Sdp("sendrecv", "0", "", 0), "", &answer), 200);
    EXPECT_TRUE(Has(SipCaller::Body(answer), "m=audio 0 RTP/AVP 0\r\n")) << answer;
    EXPECT_TRUE(caller.Receive(300).empty());
    caller.Send("BYE");
    caller.Next();

    // A delayed offer: ours in the 200, G.722 chosen in the ACK.
    caller.NewDialog();
    caller.Send("INVITE");
    reply = caller.Next();
    ASSERT_EQ(SipCaller::Status(reply), 200);
    EXPECT_TRUE(Has(SipCaller::Body(reply), "RTP/AVP 0 8 9\r\n")) << reply;
    EXPECT_TRUE(caller.Receive(200).empty()) << "music before the answer";
    caller.Send("ACK", caller.Sdp("recvonly", "9"));
    packets = caller.Receive(400);
    ASSERT_GE(packets.size(), 10u);
    EXPECT_EQ(HeaderOf(packets.back()).payloadType, 9);
    EXPECT_EQ(packets.back().bytes.size(), 12u + 160u);
    EXPECT_NEAR(ToneDb(packets), 0.0, 1.0);
    caller.Send("BYE");
    caller.Next();
}

// None of it stops the music to a caller already on hold: garbage, a cut-off
// request, a 64 KB datagram, a request line without a method, a flood of INVITEs
// from one address past the cap (each answered), a TCP connection that sends
// half a request and waits (closed), a caller whose port refuses the RTP (ended
// with a BYE after 3 s).
TEST_F(SipNetwork, BadInputNeverStopsTheMusic) {
    Start("127.0.0.0/8", 20);
    SipCaller listener("127.0.0.1", port);
    ASSERT_EQ(listener.Call(listener.Sdp()), 200);
    std::thread listening([&] {
        const std::vector<RtpArrival> packets = listener.Receive(4000);
        EXPECT_GE(packets.size(), 190u);
        EXPECT_LT(LongestGapMs(packets), 40);
    });

    SipCaller noisy("127.0.0.1", port);
    noisy.SendRaw("\x01\x02garbage\xff\xfe");
    noisy.SendRaw("INVITE sip:moh@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:1;bra");
    noisy.SendRaw(" sip:moh@127.0.0.1 SIP/2.0\r\n\r\n");
    std::string big = "INVITE sip:moh@127.0.0.1 SIP/2.0\r\nX: ";
    big.resize(65000, 'a');
    noisy.SendRaw(big);

    // m= lines that once sent the SDP parser allocating for ever: refused at once.
    for (const char* media : {"m=a 6d::\r\n", "m=audio 0R\t\t\r\n"}) {
        noisy.NewDialog();
        EXPECT_EQ(noisy.Call("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n" +
                             std::string(media)),
                  488);
    }

    int answered = 0, busy = 0;
    for (int i = 0; i < 40; ++i) {
        noisy.NewDialog();
        std::string reply;
        const int status = noisy.Call(noisy.Sdp(), "", &reply);
        answered += status == 200;
        if (status == 503) {
            ++busy;
            EXPECT_TRUE(Has(reply, "Retry-After:")) << reply;
        }
    }
    EXPECT_EQ(answered, 19);  // with the listener: the cap of 20
    EXPECT_EQ(busy, 21);
    EXPECT_EQ(server->Calls().now, 20);

    // Half a request over TCP, then nothing: closed by the server.
    const int tcp = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(tcp, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string half = "INVITE sip:moh@127.0.0.1 SIP/2.0\r\nVia: SIP/2.0/TCP 127.0.0.1:9;branch=z9hG4bKx\r\n";
    ASSERT_EQ(send(tcp, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
    char byte = 0;
    // A crowd of idle connections: the server keeps 64 of them at most.
    std::vector<int> crowd;
    for (int i = 0; i < 80; ++i) {
        const int c = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(c, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) crowd.push_back(c);
        else close(c);
    }
    listening.join();
    int cut = 0;
    for (int c : crowd) {
        pollfd q{c, POLLIN, 0};
        cut += poll(&q, 1, 0) == 1 && recv(c, &byte, 1, MSG_DONTWAIT) == 0;
        close(c);
    }
    EXPECT_GE(cut, 16) << "of " << crowd.size();

    const auto sent = std::chrono::steady_clock::now();
    pollfd p{tcp, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 12000), 1);
    EXPECT_LE(recv(tcp, &byte, 1, 0), 0) << "the connection was not closed";
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(12));
    close(tcp);

    // A caller gone from its port: ICMP port unreachable for 3 s ends the call.
    SipCaller gone("127.0.0.1", port);
    listener.Send("BYE");
    listener.Next();
    ASSERT_EQ(gone.Call(gone.Sdp()), 200);
    const auto closed = std::chrono::steady_clock::now();
    gone.CloseRtp();
    const std::string bye = gone.Next(6000);
    EXPECT_EQ(bye.rfind("BYE ", 0), 0u) << bye;
    EXPECT_GE(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(2900));
}

// A caller that vanishes without a BYE and never refreshes its session is ended
// by the session timer (RFC 4028: the 90 s it asked for, less a third at most).
TEST_F(SipNetwork, SessionTimerEndsAVanishedCaller) {
    Start();
    SipCaller caller("127.0.0.1", port);
    // The port above the RTP's, for the sender reports (when it is free).
    int control = caller.rtpPort + 1;
    const int reports = tw::test::BindUdp("127.0.0.1", control);
    std::string answer;
    ASSERT_EQ(caller.Call(caller.Sdp(), "Supported: timer\r\nSession-Expires: 90;refresher=uac\r\n", &answer), 200);
    EXPECT_TRUE(Has(answer, "Session-Expires: 90;refresher=uac")) << answer;
    const auto start = std::chrono::steady_clock::now();
    std::string bye;
    while (bye.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(100)) {
        caller.Receive(1);  // the RTP is taken, so that the port never refuses it
        bye = caller.Next(500);
    }
    EXPECT_EQ(bye.rfind("BYE ", 0), 0u) << bye;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(55));
    if (reports >= 0) {
        // A sender report every 5 s: some 15 over the call, each of the call's SSRC.
        int count = 0;
        uint8_t report[512];
        while (recv(reports, report, sizeof report, MSG_DONTWAIT) >= 28)
            count += report[1] == 200;
        EXPECT_GE(count, 12);
        close(reports);
    }
    for (int i = 0; i < 20 && server->Calls().now != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server->Calls().now, 0);
}

}  // namespace
