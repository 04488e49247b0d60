// Several outputs from one mix: one that is broken (a pipe nobody reads, a stream
// server that is not there) leaves the RTP stream whole and on time, and the
// status names each output and its state. RTP settings are judged as every
// other: status 2 from the command line, the default or the output left out
// from tonewell.conf. Sends only to 127.0.0.1.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "Process.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

using namespace std::chrono_literals;
using tw::test::Process;
using tw::test::ReadText;

class RtpOutput : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        tw::test::WriteSongAndMessage(4);
    }
};

TEST_F(RtpOutput, ABrokenOutputBesideItLeavesTheStreamWholeAndTheStatusNamesEach) {
    int port = 0;
    const int fd = tw::test::BindLoopback(SOCK_DGRAM, 0, &port);
    ASSERT_GE(fd, 0);
    const std::string to = "127.0.0.1:" + std::to_string(port);
    // A pipe that nobody reads (full after 64 KB, 4 s of audio) and a stream server
    // that is not there.
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const std::string icecast = "icecast://source@127.0.0.1:" +
                                std::to_string(tw::test::FreePort()) + "/moh";
    Process tonewell({"--headless", "--output", "pipe,icecast,rtp", "--stream-url", icecast,
                      "--rtp-to", to, "--log"},
                     "err.txt", fds[1]);
    close(fds[1]);
    std::vector<uint16_t> sequence;
    std::vector<std::chrono::steady_clock::time_point> arrived;
    const auto end = std::chrono::steady_clock::now() + 9s;
    char data[2048];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) != 1) continue;
        const ssize_t n = recv(fd, data, sizeof data, 0);
        if (n < 12) continue;
        sequence.push_back(static_cast<uint16_t>(static_cast<uint8_t>(data[2]) << 8 |
                                                 static_cast<uint8_t>(data[3])));
        arrived.push_back(std::chrono::steady_clock::now());
    }
    ASSERT_GT(sequence.size(), 400u) << ReadText("err.txt");  // 20 ms packets for 8+ s
    size_t missing = 0;
    auto longest = 0ms;
    // From the second second on: the pipe filled up at 4 s, the server was refused
    // all along.
    for (size_t i = 50; i < sequence.size(); ++i) {
        missing += static_cast<uint16_t>(sequence[i] - sequence[i - 1] - 1);
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        arrived[i] - arrived[i - 1]));
    }
    EXPECT_EQ(missing, 0u);
    EXPECT_LT(longest, 100ms) << "no gap in the stream (the loopback, a sanitized build)";

    tonewell.Signal(SIGUSR1);
    std::this_thread::sleep_for(500ms);
    const std::string log = ReadText("err.txt");
    const size_t pipe = log.find("status - output pipe: "),
                 stream = log.find("status - output stream: retrying"),
                 rtp = log.find("status - output rtp: pcmu to " + to + " (sending)");
    EXPECT_NE(pipe, std::string::npos) << log;
    EXPECT_NE(stream, std::string::npos) << log;
    EXPECT_NE(rtp, std::string::npos) << log;
    EXPECT_TRUE(pipe < stream && stream < rtp) << "in the order they were listed";
    close(fds[0]);
    close(fd);
}

TEST_F(RtpOutput, SettingsAreJudgedAsEveryOther) {
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
