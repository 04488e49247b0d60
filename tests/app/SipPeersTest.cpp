// The SIP media server with the peers a user puts around it: baresip as a caller
// that hears what it is sent, and Kamailio with the shipped configuration in
// front of several tonewell servers. Everything runs inside a network namespace
// with only the loopback up (unshare --net).

#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "G711.h"
#include "Process.h"
#include "RtpPacket.h"
#include "SipCaller.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

using namespace std::chrono_literals;
using tw::test::OnlyLoopback;
using tw::test::Process;
using tw::test::ReadText;
using tw::test::SipCaller;


pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A tonewell server answering SIP on `port`, with a song and a message every 4 s,
// in a working folder of its own.
struct Server {
    Server(const std::string& name, int port) : port(port) {
        const auto home = std::filesystem::current_path();
        std::filesystem::create_directories(name);
        std::filesystem::current_path(name);
        tw::test::WriteSongAndMessage(4);
        std::filesystem::current_path(home);
        process = std::make_unique<Process>(
            std::vector<std::string>{"--headless", "--log", "--workdir", (home / name).string(), "--output",
                                     "sip", "--sip", "127.0.0.1:" + std::to_string(port)},
            name + ".txt");
    }
    // Answers OPTIONS within a few seconds.
    bool Ready() const {
        SipCaller probe("127.0.0.1", port);
        for (int i = 0; i < 50; ++i) {
            probe.Send("OPTIONS");
            if (SipCaller::Status(probe.Next(200)) == 200) return true;
            probe.NewDialog();
        }
        return false;
    }
    int port;
    std::unique_ptr<Process> process;
};

class SipPeers : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_TRUE(OnlyLoopback()) << "run me through unshare --net";
    }
};

// baresip dials tonewell; the G.711 that reaches baresip's port (seen by a raw
// socket, as baresip keeps no recording of a one-way call) is the song, 15 dB
// down under the message.
TEST_F(SipPeers, BaresipHearsTheMusicDuckedUnderTheMessage) {
    Server server("moh", 15070);
    ASSERT_TRUE(server.Ready()) << ReadText("moh.txt");
    std::filesystem::create_directories("baresip");
    tw::test::WriteText("baresip/config",
                        "module_path /usr/lib/baresip/modules\nmodule g711.so\nmodule ausine.so\n"
                        "module cons.so\nmodule_tmp account.so\nmodule_app menu.so\n"
                        "sip_listen 127.0.0.1:15080\nnet_interface 127.0.0.1\nrtp_ports 20000-20100\n"
                        "audio_source ausine,3000\nausrc_srate 48000\nausrc_channels 2\n"
                        "cons_listen 127.0.0.1:15099\n");
    tw::test::WriteText("baresip/accounts", "<sip:test@127.0.0.1:15080>;regint=0\n");
    const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    ASSERT_GE(raw, 0) << "a raw socket needs root (or CAP_NET_RAW) in the namespace";
    const auto dialled = std::chrono::steady_clock::now();
    const pid_t baresip = Spawn({"baresip", "-f", "baresip", "-e", "/dial sip:moh@127.0.0.1:15070"},
                                "baresip.txt");
    ASSERT_GT(baresip, 0);
    // Payloads by port, then sequence number: 12 s of the call (baresip's own
    // RTP to tonewell is told apart later by the port tonewell names).
    std::map<int, std::map<uint16_t, std::vector<int16_t>>> byPort;
    while (std::chrono::steady_clock::now() - dialled < 12s) {
        pollfd p{raw, POLLIN, 0};
        if (poll(&p, 1, 100) != 1) continue;
        uint8_t packet[2048];
        const ssize_t n = recv(raw, packet, sizeof packet, 0);
        const size_t ip = static_cast<size_t>(packet[0] & 0x0F) * 4;
        if (n < static_cast<ssize_t>(ip + 8 + 12)) continue;
        udphdr udp;
        std::memcpy(&udp, packet + ip, sizeof udp);
        const int to = ntohs(udp.uh_dport);
        if (to < 20000 || to > 20100) continue;
        tw::RtpHeader header;
        if (!tw::ReadRtpHeader(packet + ip + 8, static_cast<size_t>(n) - ip - 8, header) || header.payloadType != 0)
            continue;
        std::vector<int16_t>& pcm = byPort[to][header.sequence];
        for (ssize_t i = static_cast<ssize_t>(ip) + 8 + 12; i < n; ++i) pcm.push_back(tw::UlawToLinear(packet[i]));
    }
    close(raw);
    kill(baresip, SIGTERM);
    waitpid(baresip, nullptr, 0);
    const std::string log = ReadText("moh.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex("sip: call \\S+ started: 127\\.0\\.0\\.1:([0-9]+) pcmu"))) << log;
    std::map<uint16_t, std::vector<int16_t>>& heard = byPort[std::stoi(m[1])];
    ASSERT_GT(heard.size(), 450u) << ReadText("baresip.txt") << ReadText("moh.txt");
    // In order (the sequence numbers of 12 s cannot wrap more than once: start
    // from the packet after the largest gap).
    std::vector<uint16_t> order;
    for (const auto& [sequence, pcm] : heard) order.push_back(sequence);
    size_t start = 0;
    for (size_t i = 1; i < order.size(); ++i)
        if (static_cast<uint16_t>(order[i] - order[i - 1]) > 1) start = i;
    std::vector<float> samples;
    for (size_t k = 0; k < order.size(); ++k)
        for (int16_t s : heard[order[(start + k) % order.size()]]) samples.push_back(s / 32768.0f);
    // Quarter seconds with the message's 1 kHz tone, and without.
    const int rate = 8000, step = rate / 4;
    std::vector<double> song, message;
    for (size_t at = 0; at + step <= samples.size(); at += step) {
        const std::vector<float> piece(samples.begin() + static_cast<long>(at), samples.begin() + static_cast<long>(at + step));
        song.push_back(tw::test::ToneMagnitude(piece, rate, 440));
        message.push_back(tw::test::ToneMagnitude(piece, rate, 1000));
    }
    const double loudest = *std::max_element(message.begin(), message.end());
    ASSERT_GT(loudest, 0.01) << "no message heard";
    std::vector<double> under, alone;
    for (size_t i = 1; i + 1 < song.size(); ++i) {
        const bool during = message[i - 1] > 0.5 * loudest && message[i] > 0.5 * loudest && message[i + 1] > 0.5 * loudest;
        const bool apart = message[i - 1] < 0.01 * loudest && message[i] < 0.01 * loudest && message[i + 1] < 0.01 * loudest;
        if (during) under.push_back(song[i]);
        if (apart) alone.push_back(song[i]);
    }
    ASSERT_GE(under.size(), 3u);
    ASSERT_GE(alone.size(), 3u);
    std::sort(under.begin(), under.end());
    std::sort(alone.begin(), alone.end());
    // Without the message the song is also fading, or not yet playing: its full
    // level is that of the louder quarter of those moments.
    const double duck = tw::test::Db(under[under.size() / 2] / alone[alone.size() * 3 / 4]);
    EXPECT_NEAR(duck, -15.0, 1.5);
}

// Kamailio with packaging/kamailio/tonewell.cfg in front of two servers of the
// default music and one of "sales": calls reach both, sip:sales@ reaches the
// sales server, and once one server is killed every new call goes to the other
// within 3 s (and none fails meanwhile).
TEST_F(SipPeers, KamailioSpreadsCallsAndLeavesOutADeadServer) {
    Server a("a", 15070), b("b", 15072), sales("sales", 15074);
    ASSERT_TRUE(a.Ready() && b.Ready() && sales.Ready()) << ReadText("a.txt") << ReadText("b.txt");
    tw::test::WriteText("servers.list", "1 sip:127.0.0.1:15070\n1 sip:127.0.0.1:15072\n2 sip:127.0.0.1:15074\n");
    const std::string list = (std::filesystem::current_path() / "servers.list").string();
    const std::string run = std::filesystem::current_path().string();
    const pid_t kamailio = Spawn({"kamailio", "-f", TONEWELL_KAMAILIO_CFG, "-A", "LISTEN=udp:127.0.0.1:15060",
                                  "-A", "DISPATCHER_LIST=\"" + list + "\"", "-DD", "-E", "-P", run + "/kamailio.pid",
                                  "-Y", run, "-m", "32", "-M", "8"},
                                 "kamailio.txt");
    ASSERT_GT(kamailio, 0);
    std::this_thread::sleep_for(2500ms);  // started, and every server answered a probe

    std::map<int, int> reached;
    auto call = [&](const std::string& user, int* by = nullptr) {
        SipCaller caller("127.0.0.1", 15060, user);
        const int status = caller.Call(caller.Sdp());
        if (status == 200) {
            ++reached[caller.answeredBy()];
            if (by) *by = caller.answeredBy();
            caller.Send("BYE");
            caller.Next(500);
        }
        return status;
    };
    for (int i = 0; i < 6; ++i) EXPECT_EQ(call("moh"), 200) << ReadText("kamailio.txt");
    EXPECT_GE(reached[15070], 2);
    EXPECT_GE(reached[15072], 2);
    int by = 0;
    EXPECT_EQ(call("sales", &by), 200);
    EXPECT_EQ(by, 15074);

    a.process.reset();  // killed
    const auto killed = std::chrono::steady_clock::now();
    reached.clear();
    int failed = 0;
    while (std::chrono::steady_clock::now() - killed < 5s) {
        const auto placed = std::chrono::steady_clock::now();
        failed += call("moh", &by) != 200;
        // From 3 s on, no call even tries the dead server first.
        if (placed - killed >= 3s) {
            EXPECT_EQ(by, 15072);
            EXPECT_LT(std::chrono::steady_clock::now() - placed, 500ms);
        }
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(reached[15070], 0);
    Stop(kamailio);
}

}  // namespace
