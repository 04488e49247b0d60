// Several outputs from one mix: one that is broken (a pipe nobody reads, a stream
// server that is not there) leaves the RTP stream whole and on time, and the
// status names each output and its state. Sends only to 127.0.0.1. (How the
// settings are judged is tested in the network namespace of RtpNetworkTest: some
// name hosts and addresses outside this machine.)

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

}  // namespace
