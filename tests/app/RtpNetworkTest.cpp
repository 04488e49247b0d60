// The RTP output on a network of its own: this program runs inside a network
// namespace with only the loopback up (unshare --net), so that nothing the code
// under test does can send a packet off this machine. A real receiver (ffmpeg,
// from the .sdp the README shows) hears the music and the duck under a message,
// from a multicast group and in G.722; a network that goes away and comes back
// carries the stream again by itself. The RTP and SIP settings are judged here
// too, as some of them name hosts and addresses outside this machine.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Process.h"
#include "RtpSink.h"
#include "TempFolder.h"
#include "Wav.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using tw::test::OnlyLoopback;
using tw::test::Process;
using tw::test::ReadText;


// The README's .sdp file, as a user copies it.
std::string ReadmeSdp() {
    const std::string text = ReadText(TONEWELL_README);
    const size_t start = text.find("```sdp\n");
    const size_t end = text.find("```", start + 7);
    if (start == std::string::npos || end == std::string::npos) return "";
    return text.substr(start + 7, end - start - 7);
}

// ffmpeg receiving `sdp` for `seconds` into `out` (a WAV file), in the background.
pid_t StartFfmpeg(const std::string& sdp, int seconds, const std::string& out, bool multicast) {
    tw::test::WriteText("moh.sdp", sdp);
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-protocol_whitelist", "file,udp,rtp"};
    if (multicast) args.insert(args.end(), {"-localaddr", "127.0.0.1"});
    args.insert(args.end(), {"-i", "moh.sdp", "-t", std::to_string(seconds), "-y", out});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "ffmpeg.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitFor(pid_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(50ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class RtpNetwork : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_TRUE(OnlyLoopback())
            << "this test sends to multicast groups: run it through unshare --net";
        tw::test::WriteSongAndMessage(4);
    }
    // ffmpeg receives `sdp` for 11 s into `file` while tonewell sends with `args`; the
    // duck and the message heard there.
    static void Receive(const std::string& sdp, bool multicast, const std::vector<std::string>& args,
                        const std::string& file, int rate, double& duck, double& message) {
        const pid_t ffmpeg = StartFfmpeg(sdp, 11, file, multicast);
        ASSERT_GT(ffmpeg, 0);
        std::this_thread::sleep_for(1s);  // listening before the first packet
        Process tonewell(args, "err.txt");
        EXPECT_EQ(WaitFor(ffmpeg, 30s), 0) << ReadText("ffmpeg.txt");
        Hear(file, rate, duck, message);
    }
    // The song under the message (7.4 to 8.9 s) against it before (2.5 to 4.5 s), in dB;
    // and the message's own tone.
    static void Hear(const std::string& file, int expectRate, double& duck, double& message) {
        std::vector<float> samples;
        int channels = 0, rate = 0;
        ASSERT_TRUE(tw::test::ReadWav16(file, samples, channels, rate)) << ReadText("ffmpeg.txt");
        ASSERT_EQ(rate, expectRate);
        ASSERT_EQ(channels, 1);
        ASSERT_GT(samples.size(), static_cast<size_t>(9.5 * rate));
        auto slice = [&](double from, double to) {
            return std::vector<float>(samples.begin() + static_cast<long>(from * rate),
                                      samples.begin() + static_cast<long>(to * rate));
        };
        const double before = tw::test::ToneMagnitude(slice(2.5, 4.5), rate, 440);
        const double under = tw::test::ToneMagnitude(slice(7.4, 8.9), rate, 440);
        duck = tw::test::Db(under / before);
        message = tw::test::Db(tw::test::ToneMagnitude(slice(7.4, 8.9), rate, 1000) / before);
    }
};

TEST_F(RtpNetwork, AMulticastGroupCarriesTheMusicAndTheDuckToFfmpegFromTheReadmesSdp) {
    const std::string sdp = ReadmeSdp();
    ASSERT_NE(sdp.find("239.1.1.1"), std::string::npos) << "the README shows the .sdp";
    double duck = 0, message = 0;
    Receive(sdp, true,
            {"--headless", "--output", "rtp", "--rtp-to", "239.1.1.1:16384", "--rtp-interface",
             "127.0.0.1", "--rtp-ttl", "2", "--log"},
            "got.wav", 8000, duck, message);
    EXPECT_NEAR(duck, -15.0, 1.5) << ReadText("err.txt");
    EXPECT_GT(message, -10.0);
}

TEST_F(RtpNetwork, G722ReachesAUnicastPortAndDecodesToTheSameSound) {
    int port = 0;
    for (int tries = 0; tries < 20 && port == 0; ++tries) {
        const int p = tw::test::FreePort() & ~1;
        port = p > 1024 ? p : 0;
    }
    std::string sdp = ReadmeSdp();
    sdp = std::regex_replace(sdp, std::regex("c=IN IP4 [^\n]*"), "c=IN IP4 127.0.0.1");
    sdp = std::regex_replace(sdp, std::regex("m=audio 16384 RTP/AVP 0"),
                             "m=audio " + std::to_string(port) + " RTP/AVP 9");
    sdp = std::regex_replace(sdp, std::regex("a=rtpmap:0 PCMU/8000"), "a=rtpmap:9 G722/8000");
    double duck = 0, message = 0;
    Receive(sdp, false,
            {"--headless", "--output", "rtp", "--rtp-to", "127.0.0.1:" + std::to_string(port),
             "--rtp-codec", "g722"},
            "wide.wav", 16000, duck, message);
    EXPECT_NEAR(duck, -15.0, 1.5) << ReadText("err.txt");
    EXPECT_GT(message, -10.0);
}

// Packets of the group 239.1.1.1 that reach a socket joined to it on the loopback.
struct Listener {
    int fd = -1;
    const int port = 16390;
    Listener() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "239.1.1.1", &a.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ip_mreq join{};
        join.imr_multiaddr = a.sin_addr;
        inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
    }
    ~Listener() { close(fd); }
    // How many packets came within `time`.
    int Count(std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        int n = 0;
        char data[2048];
        for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
            pollfd p{fd, POLLIN, 0};
            const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
            if (poll(&p, 1, std::max(1, ms)) == 1 && recv(fd, data, sizeof data, 0) > 0) ++n;
        }
        return n;
    }
};

TEST_F(RtpNetwork, TheStreamComesBackByItselfAfterTheNetworkWasAway) {
    Listener listener;
    Process tonewell({"--headless", "--output", "rtp", "--rtp-to", "239.1.1.1:16390",
                      "--rtp-interface", "lo", "--log"},
                     "err.txt");
    EXPECT_GT(listener.Count(2s), 50) << ReadText("err.txt");
    ASSERT_EQ(std::system("ip link set lo down"), 0);
    std::this_thread::sleep_for(3s);
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    listener.Count(3s);  // what was queued in the socket, and the reopening
    EXPECT_GT(listener.Count(2s), 80) << ReadText("err.txt");
    EXPECT_EQ(tonewell.Wait(10ms), -1) << "it plays on";
    std::this_thread::sleep_for(5500ms);  // sending again is said after 5 s without a failure
    listener.Count(1s);
    const std::string log = ReadText("err.txt");
    const std::string where = "239.1.1.1:16390";
    EXPECT_NE(log.find("rtp: cannot send to " + where), std::string::npos) << log;
    EXPECT_NE(log.find("rtp: sending to " + where + " again"), std::string::npos) << log;
}

// Destinations and interfaces are judged without a packet sent; here too, so that
// the addresses they name stay inside this namespace whatever the code does.
TEST(RtpSink, BadDestinationsAreToldApart) {
    ASSERT_TRUE(OnlyLoopback()) << "run it through unshare --net";
    std::vector<tw::RtpTarget> to;
    std::string why;
    EXPECT_FALSE(tw::ResolveRtpTargets("127.0.0.1", to, why));
    EXPECT_FALSE(tw::ResolveRtpTargets("127.0.0.1:0", to, why));
    EXPECT_NE(why.find("1 to 65535"), std::string::npos);
    EXPECT_FALSE(tw::ResolveRtpTargets("127.0.0.1:65536", to, why));
    EXPECT_FALSE(tw::ResolveRtpTargets("::1:5004", to, why));  // IPv6 goes in brackets
    EXPECT_FALSE(tw::ResolveRtpTargets("no-such-host.invalid:5004", to, why));
    EXPECT_NE(why.find("does not resolve"), std::string::npos);
    ASSERT_TRUE(tw::ResolveRtpTargets("[::1]:5004, 239.1.1.1:16384", to, why)) << why;
    ASSERT_EQ(to.size(), 2u);
    EXPECT_FALSE(to[0].multicast);
    EXPECT_TRUE(to[1].multicast);
    EXPECT_TRUE(tw::NetworkInterfaceExists("lo"));
    EXPECT_TRUE(tw::NetworkInterfaceExists("127.0.0.1"));
    EXPECT_FALSE(tw::NetworkInterfaceExists("eth99"));
    EXPECT_FALSE(tw::NetworkInterfaceExists("192.0.2.77"));
}

// Settings are judged as every other: status 2 from the command line, the
// default or the output left out from tonewell.conf. Here, because some name a
// host to resolve or an address that is not this machine's.
TEST_F(RtpNetwork, SettingsAreJudgedAsEveryOther) {
    auto run = [](const std::string& args) {
        const std::string cmd = std::string(TONEWELL_EXE) + " --headless " + args +
                                " >/dev/null 2>err.txt </dev/null";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const struct {
        const char* args;
        const char* said;
    } bad[] = {
        {"--output fax", "there is no output fax"},
        {"--output null,rtp --rtp-to 127.0.0.1:5004", "null plays alone"},
        {"--output rtp,rtp --rtp-to 127.0.0.1:5004", "rtp is named twice"},
        {"--output rtp", "--rtp-to HOST:PORT"},
        {"--output rtp --rtp-to 127.0.0.1:0", "1 to 65535"},
        {"--output rtp --rtp-to 127.0.0.1:65536", "1 to 65535"},
        {"--output rtp --rtp-to no-such-host.invalid:5004", "does not resolve"},
        {"--output rtp --rtp-to 127.0.0.1:5004 --rtp-ptime 25",
         "--rtp-ptime takes 10 to 60 (ms, in steps of 10)"},
        {"--output rtp --rtp-to 127.0.0.1:5004 --rtp-ttl 256", "--rtp-ttl takes 0 to 255"},
        {"--output rtp --rtp-to 127.0.0.1:5004 --rtp-interface eth99", "there is no eth99"},
        {"--output rtp --rtp-to 127.0.0.1:5004 --rtp-codec opus", "pcmu, pcma or g722"},
        {"--rtp-ptime", "--rtp-ptime needs MS"},
        {"--output sip", "the sip output needs a port"},
        {"--sip 127.0.0.1:0", "the port must be 1 to 65535"},
        {"--sip ::1:5070", "an IPv6 address goes in brackets"},
        {"--sip 192.0.2.1:5070", "cannot listen for SIP on UDP port 5070"},
        {"--sip 5070 --sip-allow 10.0.0.0/33", "the bits after / must be 0 to 32"},
        {"--sip 5070 --sip-max-calls 0", "--sip-max-calls takes 1 to 20000"},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(run(b.args), 2) << b.args;
        EXPECT_NE(ReadText("err.txt").find(b.said), std::string::npos)
            << b.args << ": " << ReadText("err.txt");
    }
    // From tonewell.conf: a ptime of 25 plays at 20; an rtp output with nowhere to
    // send is left out and the card plays; a list with nothing left ends with 2.
    tw::test::WriteText("tonewell.conf",
                        "output = null\nrtp-ptime = 25\nrtp-ttl = 300\n");
    {
        Process headless({"--headless"}, "conf.txt");
        EXPECT_EQ(headless.Wait(2s), -1) << ReadText("conf.txt");
    }
    std::string said = ReadText("conf.txt");
    EXPECT_NE(said.find("tonewell.conf line 2: rtp-ptime takes 10 to 60 (ms, in steps of 10); 20 "
                        "is used"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("tonewell.conf line 3: rtp-ttl takes 0 to 255; 1 is used"),
              std::string::npos);
    tw::test::WriteText("tonewell.conf", "output = device, rtp\n");
    {
        Process headless({"--headless"}, "conf.txt");
        EXPECT_EQ(headless.Wait(2s), -1) << ReadText("conf.txt");
    }
    said = ReadText("conf.txt");
    EXPECT_NE(said.find("the rtp output needs somewhere to send"), std::string::npos) << said;
    EXPECT_NE(said.find("it is left out"), std::string::npos) << said;
    tw::test::WriteText("tonewell.conf", "output = rtp\nrtp-to = no-such-host.invalid:5004\n");
    EXPECT_EQ(run(""), 2);
    said = ReadText("err.txt");
    EXPECT_NE(said.find("tonewell.conf line 2: rtp-to: the host no-such-host.invalid does not "
                        "resolve"),
              std::string::npos)
        << said;
}

}  // namespace
