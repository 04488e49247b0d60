// The ways a phone system takes the music on hold: raw audio on a pipe, a stream
// through a real Icecast server, and telephony files.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Process.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

using namespace std::chrono_literals;
using tw::test::Accepts;
using tw::test::FreePort;
using tw::test::Process;
using tw::test::ReadText;

constexpr int kRate = 8000;

// Signed 16-bit little-endian samples as floats.
std::vector<float> FromPcm16(const std::string& bytes) {
    std::vector<float> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        int16_t v;
        std::memcpy(&v, bytes.data() + 2 * i, 2);
        out[i] = v / 32768.0f;
    }
    return out;
}

// A 440 Hz song from 2 s; a 1 kHz message 4 s after the start, after the 2.1 s fade:
// heard from 7.1 s to 9.1 s over the song faded 15 dB down.
class PhoneOutput : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        tw::test::WriteSongAndMessage(4);
    }
    static std::vector<float> Slice(const std::vector<float>& mono, double from, double to) {
        return {mono.begin() + static_cast<long>(from * kRate),
                mono.begin() + static_cast<long>(to * kRate)};
    }
    // The song's level under the message against its level before, in dB.
    static double Duck(const std::vector<float>& mono, double offset) {
        const double before =
            tw::test::ToneMagnitude(Slice(mono, offset + 2.5, offset + 4.5), kRate, 440);
        const double under =
            tw::test::ToneMagnitude(Slice(mono, offset + 7.4, offset + 8.9), kRate, 440);
        return tw::test::Db(under / before);
    }
};

TEST_F(PhoneOutput, ThePipeFeedsAReaderInRealTimeAndEndsWhenTheReaderGoes) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    Process tonewell({"--headless", "--output", "pipe", "--log"}, "err.txt", fds[1]);
    close(fds[1]);
    std::string bytes;
    char chunk[4096];
    auto first = std::chrono::steady_clock::time_point{};
    for (;;) {
        const ssize_t n = read(fds[0], chunk, sizeof chunk);
        ASSERT_GT(n, 0) << ReadText("err.txt");
        if (bytes.empty()) first = std::chrono::steady_clock::now();
        bytes.append(chunk, static_cast<size_t>(n));
        if (std::chrono::steady_clock::now() - first >= 10s) break;
    }
    // 10 s of wall time carry 10 s of 8 kHz mono 16-bit audio, within 5%.
    const double seconds = bytes.size() / 2.0 / kRate;
    EXPECT_NEAR(seconds, 10.0, 0.5);
    const std::vector<float> mono = FromPcm16(bytes);
    // The first bytes left within a block of the start; the song is there, and it
    // ducks 15 dB under the message, which is heard too.
    EXPECT_NEAR(Duck(mono, 0), -15.0, 1.5);
    EXPECT_GT(tw::test::ToneMagnitude(Slice(mono, 7.4, 8.9), kRate, 1000), 0.05);
    // The log went to stderr, not into the audio.
    EXPECT_NE(ReadText("err.txt").find("status - play voice V\\m.wav"), std::string::npos);

    close(fds[0]);
    EXPECT_EQ(tonewell.Wait(5s), 0) << ReadText("err.txt");
}

// A reader that is alive but reads nothing never holds up SIGTERM; a write that
// fails for another reason than a gone reader (a full disk) is an error.
TEST_F(PhoneOutput, ThePipeEndsOnTimeWhateverItsReaderDoesAndSaysAFullDisk) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    {
        Process tonewell({"--headless", "--output", "pipe"}, "err.txt", fds[1]);
        std::this_thread::sleep_for(6s);  // 64 KB of pipe are full after 4 s
        tonewell.Signal(SIGTERM);
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(tonewell.Wait(3s), 0) << ReadText("err.txt");
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    }
    close(fds[0]);
    close(fds[1]);
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    Process tonewell({"--headless", "--output", "pipe"}, "err.txt", full);
    close(full);
    EXPECT_EQ(tonewell.Wait(10s), 1);
    EXPECT_NE(ReadText("err.txt").find(
                  "the audio cannot be written to standard output: No space left on device"),
              std::string::npos)
        << ReadText("err.txt");
}

// Renders OUT with `args` and reads it back with libsndfile.
struct ReadBack {
    SF_INFO info{};
    std::vector<float> samples;
};
ReadBack Render(const std::string& out, const std::string& args) {
    const std::string cmd = std::string(TONEWELL_EXE) + " --render " + out + " --seconds 10 " +
                            args + " --start \"2026-12-07 09:00:00\" 2>err.txt";
    ReadBack r;
    if (std::system(cmd.c_str()) != 0) return r;
    SNDFILE* file = sf_open(out.c_str(), SFM_READ, &r.info);
    if (!file) return r;
    r.samples.resize(static_cast<size_t>(r.info.frames) * r.info.channels);
    sf_readf_float(file, r.samples.data(), r.info.frames);
    sf_close(file);
    return r;
}

TEST_F(PhoneOutput, TelephonyFilesReadBackInTheFormAskedFor) {
    struct Case {
        const char* out;
        const char* args;
        int rate, channels, format;
    };
    const Case cases[] = {
        {"phone.wav", "--preset phone", 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"ulaw.wav", "--preset ulaw", 8000, 1, SF_FORMAT_WAV | SF_FORMAT_ULAW},
        {"alaw.wav", "--preset alaw", 8000, 1, SF_FORMAT_WAV | SF_FORMAT_ALAW},
        {"ulaw.au", "--preset ulaw", 8000, 1, SF_FORMAT_AU | SF_FORMAT_ULAW},
        {"wide.flac", "--rate 16000 --channels 2", 16000, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"music.ogg", "", 44100, 2, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"float.wav", "--encoding float --rate 22050", 22050, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    };
    for (const Case& c : cases) {
        const ReadBack r = Render(c.out, c.args);
        EXPECT_EQ(r.info.samplerate, c.rate) << c.out << ": " << ReadText("err.txt");
        EXPECT_EQ(r.info.channels, c.channels) << c.out;
        EXPECT_EQ(r.info.format, c.format) << c.out;
        EXPECT_NEAR(static_cast<double>(r.info.frames) / c.rate, 10.0, 0.1) << c.out;
    }
    // The 8 kHz forms keep the duck under the message.
    for (const char* out : {"phone.wav", "ulaw.wav", "alaw.wav"}) {
        const ReadBack r = Render(
            out, std::string("--preset ") + (std::string(out) == "phone.wav" ? "phone" : "ulaw"));
        EXPECT_NEAR(Duck(r.samples, 0), -15.0, 1.0) << out;
    }
    // What a file cannot be is said, with status 2.
    std::string cmd = std::string(TONEWELL_EXE) + " --render x.mp4 --seconds 2 2>err.txt";
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
    EXPECT_NE(ReadText("err.txt").find("x.mp4: unknown file type"), std::string::npos);
    cmd = std::string(TONEWELL_EXE) + " --render x.flac --seconds 2 --encoding ulaw 2>err.txt";
    EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
    EXPECT_FALSE(std::filesystem::exists("x.flac"));
}

TEST_F(PhoneOutput, BadSettingsEndWithAClearLine) {
    auto run = [](const std::string& args) {
        const std::string cmd = std::string(TONEWELL_EXE) + " " + args + " >/dev/null 2>err.txt";
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://source:pw@/moh"), 2);
    EXPECT_NE(ReadText("err.txt").find("names no host"), std::string::npos);
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://h:8000/"), 2);
    // A raw "/" in the password: refused before anything is contacted, and not shown.
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://source:12/34pw@h:8000/moh"), 2);
    EXPECT_NE(ReadText("err.txt").find("percent-encoded as %2F"), std::string::npos);
    EXPECT_EQ(ReadText("err.txt").find("34pw"), std::string::npos);
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://h/m --stream-format aac"), 2);
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://h/m --stream-bitrate 0"), 2);
    EXPECT_EQ(run("--headless --output icecast --stream-url icecast://h/m --stream-bitrate 10000"),
              2);
    EXPECT_EQ(run("--headless --output pipe --rate 1"), 2);
    EXPECT_EQ(run("--headless --output pipe --rate 1000000"), 2);
    EXPECT_EQ(run("--output pipe"), 2);  // a window has no pipe
    const std::string closed =
        std::string(TONEWELL_EXE) + " --headless --output pipe >&- 2>err.txt";
    EXPECT_EQ(WEXITSTATUS(std::system(closed.c_str())), 2);
    EXPECT_NE(ReadText("err.txt").find("standard output is closed"), std::string::npos);
    // tonewell.conf: a line it does not know is said and skipped; the command line wins.
    tw::test::WriteText("tonewell.conf",
                        "# the phone system's feed\noutput = icecast\nvolume = 3\n");
    EXPECT_EQ(run("--headless"), 2);
    EXPECT_NE(ReadText("err.txt").find("tonewell.conf line 3: unknown key volume"),
              std::string::npos);
    EXPECT_NE(ReadText("err.txt").find("--stream-url"), std::string::npos);  // output = icecast
    EXPECT_EQ(run("--headless --output pipe --rate 1"), 2);
    EXPECT_EQ(ReadText("err.txt").find("--stream-url"), std::string::npos);
    // A bad value in the file is said with its line, and its default used: it never
    // stops a start (nor names an option nobody gave).
    tw::test::WriteText("tonewell.conf", "output = null\nrate = 8 kHz\nchannels = 3\n");
    {
        Process headless({"--headless"}, "conf.txt");
        EXPECT_EQ(headless.Wait(2s), -1) << ReadText("conf.txt");
    }
    const std::string said = ReadText("conf.txt");
    EXPECT_NE(said.find("tonewell.conf line 2: rate takes 8000 to 192000; 8000 is used"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("tonewell.conf line 3: channels takes 1 or 2; 1 is used"),
              std::string::npos);
    EXPECT_EQ(said.find("--rate"), std::string::npos);
    // The file's output is the headless service's: a window started in the same
    // folder plays on as usual.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Process window({"--output", "null"}, "window.txt");
    EXPECT_EQ(window.Wait(2s), -1) << ReadText("window.txt");
    unsetenv("QT_QPA_PLATFORM");
}

// ---- a real Icecast server ----


// Debian's icecast2 on 127.0.0.1, from a configuration written here. As root it
// must hand itself to an unprivileged user, who then writes the log folder.
class Icecast {
  public:
    explicit Icecast(const std::filesystem::path& dir) : dir_(dir), port_(FreePort()) {
        namespace fs = std::filesystem;
        fs::create_directories(dir / "log");
        // The unprivileged user reaches the log folder through the test's folder.
        for (const fs::path& p : {dir.parent_path(), dir})
            fs::permissions(p, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        fs::permissions(dir / "log", fs::perms::all);
        const std::string owner = geteuid() == 0
                                      ? "<changeowner><user>nobody</user><group>nogroup</group>"
                                        "</changeowner>"
                                      : "";
        tw::test::WriteText(
            (dir / "icecast.xml").string(),
            "<icecast><limits><sources>2</sources></limits>"
            "<authentication><source-password>hackme</source-password>"
            "<admin-user>admin</admin-user><admin-password>admin</admin-password>"
            "</authentication><hostname>127.0.0.1</hostname>"
            "<listen-socket><port>" +
                std::to_string(port_) +
                "</port><bind-address>127.0.0.1</bind-address></listen-socket>"
                "<fileserve>0</fileserve><paths><logdir>" +
                (dir / "log").string() +
                "</logdir><webroot>/usr/share/icecast2/web</webroot>"
                "<adminroot>/usr/share/icecast2/admin</adminroot></paths>"
                "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
                "<loglevel>3</loglevel></logging><security><chroot>0</chroot>" +
                owner + "</security></icecast>");
    }
    ~Icecast() { Stop(); }
    bool Start() {
        const std::string conf = (dir_ / "icecast.xml").string();
        char* const argv[] = {const_cast<char*>("icecast2"), const_cast<char*>("-c"),
                              const_cast<char*>(conf.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const bool spawned = posix_spawnp(&pid_, "icecast2", &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!spawned) return false;
        for (int i = 0; i < 100 && !Accepts(port_); ++i) std::this_thread::sleep_for(50ms);
        return Accepts(port_);
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Pause(bool stop) { kill(pid_, stop ? SIGSTOP : SIGCONT); }
    int port() const { return port_; }
    std::string Url(const std::string& password) const {
        return "icecast://source:" + password + "@127.0.0.1:" + std::to_string(port_) + "/moh";
    }
    // What a real client hears of the mount for `seconds`: 8 kHz mono floats.
    std::vector<float> Listen(int seconds) const {
        const std::string cmd =
            "timeout 30 ffmpeg -nostdin -loglevel error -y -i http://127.0.0.1:" +
            std::to_string(port_) + "/moh -t " + std::to_string(seconds) +
            " -ac 1 -ar 8000 -f s16le heard.raw";
        std::filesystem::remove("heard.raw");
        if (std::system(cmd.c_str()) != 0) return {};
        return FromPcm16(ReadText("heard.raw"));
    }

  private:
    std::filesystem::path dir_;
    int port_;
    pid_t pid_ = -1;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(PhoneOutput, AStreamReachesARealClientAndComesBackAfterTheServerWasAway) {
    for (const char* format : {"mp3", "opus"}) {
        SCOPED_TRACE(format);
        Icecast server(folder / "icecast");
        ASSERT_TRUE(server.Start());
        // The password from the environment; none in the URL, so none in any log.
        setenv("TONEWELL_STREAM_PASSWORD", "hackme", 1);
        Process tonewell({"--headless", "--log", "--output", "icecast", "--stream-url",
                          "icecast://127.0.0.1:" + std::to_string(server.port()) + "/moh",
                          "--stream-format", format},
                         "err.txt");
        unsetenv("TONEWELL_STREAM_PASSWORD");
        std::this_thread::sleep_for(3s);
        std::vector<float> heard = server.Listen(3);
        ASSERT_GT(heard.size(), 2u * kRate) << ReadText("err.txt");
        EXPECT_GT(tw::test::ToneMagnitude(heard, kRate, 440),
                  10 * tw::test::ToneMagnitude(heard, kRate, 600));

        // Away for 5 s: the loss is said once, playback goes on, and the stream
        // comes back by itself.
        server.Stop();
        std::this_thread::sleep_for(5s);
        ASSERT_TRUE(server.Start());
        std::this_thread::sleep_for(4s);
        const std::string log = ReadText("err.txt");
        EXPECT_EQ(Count(log, "status - streaming to http://127.0.0.1:"), 2u) << log;
        EXPECT_LE(Count(log, "error - stream to"), 2u) << log;
        EXPECT_EQ(log.find("hackme"), std::string::npos);
        heard = server.Listen(2);
        ASSERT_GT(heard.size(), kRate);
        EXPECT_GT(tw::test::ToneMagnitude(heard, kRate, 440), 0.02);

        // A server that takes the connection and then stalls: the cycle goes on
        // (messages keep starting on time) and the stream is there again after.
        const size_t messages = Count(ReadText("err.txt"), "status - play voice");
        server.Pause(true);
        std::this_thread::sleep_for(10s);
        EXPECT_GE(Count(ReadText("err.txt"), "status - play voice"), messages + 1);
        server.Pause(false);
        std::this_thread::sleep_for(4s);
        heard = server.Listen(2);
        EXPECT_GT(heard.size(), kRate) << ReadText("err.txt");
        tonewell.Signal(SIGTERM);
        EXPECT_EQ(tonewell.Wait(5s), 0);
    }
}

TEST_F(PhoneOutput, AWrongPasswordIsLoggedWithItsReasonAndRetriedCalmly) {
    Icecast server(folder / "icecast");
    ASSERT_TRUE(server.Start());
    // A password with a "/" (percent-encoded) given on the command line.
    Process tonewell({"--headless", "--log", "--output", "icecast", "--stream-url",
                      server.Url("wr%2Fong-pass")},
                     "err.txt");
    std::this_thread::sleep_for(7s);
    const std::string log = ReadText("err.txt");
    // Said once, with the server's reason, though tried three or four times.
    EXPECT_EQ(Count(log, "error - stream to http://127.0.0.1:"), 1u) << log;
    EXPECT_NE(log.find("the server refused: wrong user name or password"), std::string::npos)
        << log;
    EXPECT_NE(log.find("warning: a password on the command line can be read by other users"),
              std::string::npos);
    EXPECT_EQ(log.find("ong-pass"), std::string::npos);
    // Gone from what every local user can read of the process.
    const std::string cmdline = ReadText("/proc/" + std::to_string(tonewell.pid()) + "/cmdline");
    EXPECT_NE(cmdline.find("--stream-url"), std::string::npos);
    EXPECT_EQ(cmdline.find("ong-pass"), std::string::npos);
    // Playing goes on meanwhile.
    EXPECT_NE(log.find("status - play music T\\a.wav"), std::string::npos);
    // No busy loop: well under a tenth of a core over the 7 s.
    const std::string stat = ReadText("/proc/" + std::to_string(tonewell.pid()) + "/stat");
    size_t field = 0, at = stat.rfind(')') + 2;
    long ticks = 0;
    for (; field < 11; ++field) at = stat.find(' ', at) + 1;  // utime is field 14
    ticks = std::atol(stat.c_str() + at);
    EXPECT_LT(ticks / static_cast<double>(sysconf(_SC_CLK_TCK)), 0.7);
    tonewell.Signal(SIGTERM);
    EXPECT_EQ(tonewell.Wait(5s), 0);
}

// Two sources on one mount: the second is told that the mount is taken, not that
// its password is wrong. A server that takes the connection and then reads nothing
// is noticed within seconds, not when the kernel's buffers have filled.
TEST_F(PhoneOutput, AMountInUseAndAServerThatStopsReadingAreToldApart) {
    Icecast server(folder / "icecast");
    ASSERT_TRUE(server.Start());
    setenv("TONEWELL_STREAM_PASSWORD", "hackme", 1);
    const std::string url = "icecast://127.0.0.1:" + std::to_string(server.port()) + "/moh";
    Process first({"--headless", "--log", "--output", "icecast", "--stream-url", url}, "one.txt");
    std::this_thread::sleep_for(3s);
    // The second runs beside the first: its own lock folder.
    std::filesystem::create_directories("second/run");
    std::filesystem::copy("audio.cfg", "second/audio.cfg");
    std::filesystem::copy("sounds", "second/sounds", std::filesystem::copy_options::recursive);
    const std::string runtime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
    setenv("XDG_RUNTIME_DIR", (folder / "second/run").c_str(), 1);
    Process second({"--headless", "--log", "--workdir", "second", "--output", "icecast",
                    "--stream-url", url},
                   "two.txt");
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("TONEWELL_STREAM_PASSWORD");
    std::this_thread::sleep_for(5s);
    EXPECT_NE(ReadText("two.txt").find("the server refused: the mount /moh is in use by another "
                                       "source"),
              std::string::npos)
        << ReadText("two.txt");
    EXPECT_NE(ReadText("two.txt").find("status - play music"), std::string::npos);
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(5s), 0);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(5s), 0);

    // A server that answers the login and then takes no more: its machine stops
    // acknowledging once its small receive buffer is full (as a frozen or vanished
    // host does at once).
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    listen(listener, 4);
    std::atomic<bool> done{false};
    std::thread fake([listener, &done] {
        // libshout asks once without a password, then logs in on a second connection.
        for (bool loggedIn = false; !loggedIn && !done;) {
            const int c = accept(listener, nullptr, nullptr);
            if (c < 0) return;
            std::string request;
            char chunk[512];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(c, chunk, sizeof chunk, 0);
                if (n <= 0) break;
                request.append(chunk, static_cast<size_t>(n));
            }
            const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
            send(c, ok.data(), ok.size(), MSG_NOSIGNAL);
            loggedIn = request.find("Authorization:") != std::string::npos;
            while (loggedIn && !done) std::this_thread::sleep_for(50ms);  // reads nothing more
            close(c);
        }
    });
    setenv("TONEWELL_STREAM_PASSWORD", "x", 1);
    Process stalled({"--headless", "--log", "--output", "icecast",
                     "--stream-url",
                     "icecast://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/moh"},
                    "stall.txt");
    unsetenv("TONEWELL_STREAM_PASSWORD");
    auto seen = [](const std::string& what) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < end &&
               ReadText("stall.txt").find(what) == std::string::npos)
            std::this_thread::sleep_for(50ms);
        return std::chrono::steady_clock::now();
    };
    const auto streaming = seen("status - streaming to");
    const auto noticed = seen("the server stopped taking the stream");
    const double seconds = std::chrono::duration<double>(noticed - streaming).count();
    std::printf("a server that stopped reading was noticed after %.1f s\n", seconds);
    EXPECT_LT(seconds, 6) << ReadText("stall.txt");
    stalled.Signal(SIGTERM);
    EXPECT_EQ(stalled.Wait(5s), 0);
    done = true;
    shutdown(listener, SHUT_RDWR);
    fake.join();
    close(listener);
}

}  // namespace
