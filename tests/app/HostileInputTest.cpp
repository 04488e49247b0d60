// The real program fed hostile files: render runs on the virtual clock, with the
// log, must finish, say what was wrong, and keep the line playing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "Wav.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPlain = "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0";

class HostileInput : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        fs::create_directories("sounds/Music Tracks/T");
        fs::create_directories("sounds/Voice Messages/V");
    }
    // Runs tonewell with `args` (killed after 120 s); returns its exit code. The
    // peak memory of the run, in kB, goes to `maxKb`.
    int Run(const std::string& args, std::string* err = nullptr, long* maxKb = nullptr,
            const std::string& prefix = "") {
        const std::string cmd = prefix + "/usr/bin/time -f %M -o rss.txt timeout 120 " +
                                std::string(TONEWELL_EXE) + " " + args + " 2>err.txt";
        const int status = std::system(cmd.c_str());
        if (err) *err = tw::test::ReadText("err.txt");
        if (maxKb) *maxKb = std::atol(tw::test::ReadText("rss.txt").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Music(const std::string& file) { return "sounds\\Music Tracks\\T\\" + file; }
    // "audio.cfg" with the given music tracks (each with a plain schedule line).
    static void Config(const std::vector<std::string>& music, int musicGap = 1, int voiceGap = 30,
                       int musicVolume = 10, const std::vector<std::string>& voice = {}) {
        std::string text = "[VOICE]\n" + std::to_string(voiceGap) + "\n10\n0\n\n[MUSIC]\n" +
                           std::to_string(musicGap) + "\n" + std::to_string(musicVolume) +
                           "\n0\n\n[MUSIC_LIST]\n";
        for (const auto& m : music) text += m + "\n" + kPlain + "\n";
        text += ".\n\n[VOICE_LIST]\n";
        for (const auto& v : voice) text += v + "\n" + kPlain + "\n";
        tw::test::WriteText("audio.cfg", text + ".\n\n");
    }
    static double RmsBetween(const std::vector<float>& stereo, double from, double to) {
        const size_t a = std::min(static_cast<size_t>(from * 44100) * 2, stereo.size());
        const size_t b = std::min(static_cast<size_t>(to * 44100) * 2, stereo.size());
        if (b <= a) return 0.0;
        return tw::test::Rms(stereo.data() + a, b - a);
    }
    static std::vector<float> Rendered() {
        std::vector<float> samples;
        int channels = 0, rate = 0;
        EXPECT_TRUE(tw::test::ReadWav16("out.wav", samples, channels, rate));
        return samples;
    }
    // The virtual times at which the log says music (named `name`, or any) started.
    static std::vector<double> MusicStarts(const std::string& log, const std::string& name = "") {
        std::vector<double> times;
        const std::string line = "] status - play music " + name;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            times.push_back(std::atof(log.c_str() + log.rfind('[', at) + 1));
        return times;
    }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
};

// Builds an MP3 of about `hours` of 48 kHz stereo at 32 kbit/s, without an
// Info/Xing frame, by joining copies of one second of it: small on disk, over
// 4 GiB decoded.
bool MakeLongMp3(const std::string& path, int hours) {
    if (std::system("sox -q -n -r 48000 -c 2 -b 16 second.wav synth 1 sine 330 vol 0.2 && "
                    "lame --quiet -t -b 32 --resample 48 second.wav second.mp3") != 0)
        return false;
    const std::string second = tw::test::ReadText("second.mp3");
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < hours * 3600; ++i) out << second;
    return static_cast<bool>(out);
}

TEST_F(HostileInput, BadTracksAreRefusedQuicklyAndTheGoodOnePlays) {
    // An MP3 whose Info frame claims about 4 billion frames, in 1000 bytes: what it
    // really holds is decoded (a few milliseconds), nothing more is asked for.
    fs::copy_file(TONEWELL_CORPUS "/bad-mp3/xing-claims-4-billion-frames.mp3",
                  "sounds/Music Tracks/T/claims.mp3");
    // A FIFO: opening it for reading would wait for a writer for ever.
    ASSERT_EQ(::mkfifo("sounds/Music Tracks/T/fifo.wav", 0644), 0);
    // Ten hours of MP3: over 4 GiB decoded, yet it plays, read as it goes.
    ASSERT_TRUE(MakeLongMp3("sounds/Music Tracks/T/long.mp3", 10));
    // 3 GB that is not a sound (sparse: no disk used), under a sound's name.
    {
        std::ofstream junk("sounds/Music Tracks/T/junk.wav", std::ios::binary);
        junk << "RIFF\xff\xff\xff\xffJUNK";
    }
    fs::resize_file("sounds/Music Tracks/T/junk.wav", 3ull << 30);
    // A file outside "sounds", named by a climbing and by an absolute name.
    tw::test::WriteTone("outside.wav", 1);
    tw::test::WriteTone("sounds/Music Tracks/T/good.wav", 4, 440, 44100, 2, 0.5);
    const std::string absolute = (folder / "outside.wav").string();
    Config({Music("claims.mp3"), Music("fifo.wav"), Music("junk.wav"),
            "sounds\\Music Tracks\\..\\..\\outside.wav", absolute, Music("good.wav"), Music("long.mp3")});

    std::string err;
    long maxKb = 0;
    ASSERT_EQ(
        Run("--render out.wav --seconds 20 --start \"2026-12-07 09:00:00\" --log", &err, &maxKb), 0)
        << err;
    EXPECT_NE(err.find("Error: Unable to read file (" + Music("fifo.wav") + "): it is not a regular file"),
              std::string::npos);
    EXPECT_NE(err.find("Error: Unsupported audio format (" + Music("junk.wav") + ")"),
              std::string::npos);
    EXPECT_NE(err.find("Error: Unable to locate file (sounds\\Music Tracks\\..\\..\\outside.wav)"),
              std::string::npos);
    EXPECT_NE(err.find("Error: Unable to locate file (" + absolute + ")"), std::string::npos);
    EXPECT_NE(err.find("status - preload music " + absolute + "\n"), std::string::npos);  // whole
    EXPECT_NE(err.find("status - play music T\\good.wav"), std::string::npos);
    // Neither the 3 GB file nor the ten hours were held in memory.
    EXPECT_LT(maxKb, 600 * 1024) << "peak memory " << maxKb << " kB";
    const std::vector<double> starts = MusicStarts(err, "T\\good.wav");
    ASSERT_FALSE(starts.empty());
    const std::vector<float> mix = Rendered();
    EXPECT_GT(RmsBetween(mix, starts.back() + 0.5, starts.back() + 2.5), 0.3) << err;
    const std::vector<double> longStarts = MusicStarts(err, "T\\long.mp3");
    ASSERT_FALSE(longStarts.empty()) << err;
    EXPECT_GT(RmsBetween(mix, longStarts.back() + 0.5, longStarts.back() + 2.5), 0.05) << err;
}

TEST_F(HostileInput, FifosInPlaceOfTheConfigurationNeverHang) {
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 3, 440, 44100, 2, 0.5);
    ASSERT_EQ(::mkfifo("audio.cfg", 0644), 0);
    std::string err;
    EXPECT_EQ(Run("--render out.wav --seconds 3", &err), 0) << err;
    EXPECT_NE(err.find("Error: File audio.cfg not found"), std::string::npos) << err;

    // A FIFO as the settings: read as missing (the defaults), and the line plays.
    fs::remove("audio.cfg");
    Config({Music("a.wav")});
    fs::remove("settings.cfg");  // made with the defaults by the first run
    ASSERT_EQ(::mkfifo("settings.cfg", 0644), 0);
    EXPECT_EQ(Run("--render out.wav --seconds 5 --log", &err), 0) << err;
    EXPECT_NE(err.find("status - play music T\\a.wav"), std::string::npos) << err;
}

TEST_F(HostileInput, GapsFromTheFileAreHeldToADay) {
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 1, 440, 44100, 2, 0.5);
    tw::test::WriteTone("sounds/Voice Messages/V/m.wav", 1, 1000, 8000, 1, 0.5);
    // A music gap of -1 must not stop the music; a voice gap whose milliseconds
    // pass 32 bits must not overflow (the sanitizers would end the run).
    Config({Music("a.wav")}, -1, 2147484, 10, {"sounds\\Voice Messages\\V\\m.wav"});
    std::string err;
    ASSERT_EQ(Run("--render out.wav --seconds 20 --log", &err), 0) << err;
    EXPECT_GE(Count(err, "status - play music T\\a.wav"), 8u) << err;
    EXPECT_EQ(Count(err, "status - play voice"), 0u);
    // The file keeps what it said.
    EXPECT_NE(tw::test::ReadText("audio.cfg").find("[VOICE]\n2147484\n"), std::string::npos);
}

TEST_F(HostileInput, EverySongStartsAtTheMusicLevel) {
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 4, 440, 44100, 2, 0.5);
    tw::test::WriteTone("sounds/Music Tracks/T/b.wav", 4, 440, 44100, 2, 0.5);
    Config({Music("a.wav"), Music("b.wav"), Music("a.wav")}, 1, 30, 4);
    std::string err;
    ASSERT_EQ(Run("--render out.wav --seconds 20 --start \"2026-12-07 09:00:00\" --log", &err), 0)
        << err;
    // Volume 4 is -18 dB: a 0.5 sine's RMS of 0.354 becomes 0.0445.
    const double expected = 0.5 / std::sqrt(2.0) * std::pow(10.0, -18.0 / 20.0);
    const std::vector<float> mix = Rendered();
    const std::vector<double> starts = MusicStarts(err);
    ASSERT_EQ(starts.size(), 3u) << err;
    for (double at : starts)
        EXPECT_NEAR(tw::test::Db(RmsBetween(mix, at + 0.5, at + 3.5) / expected), 0.0, 0.5)
            << "song at " << at << " s\n"
            << err;
}

// A first run whose copy of "default.cfg" cannot be made (here the temporary file
// is blocked): no "audio.cfg" is left behind, empty or half written; the run says
// so instead of the first-run notice, and plays the defaults.
TEST_F(HostileInput, AFailedFirstRunCopySaysSoAndPlaysTheDefaults) {
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 3, 440, 44100, 2, 0.5);
    Config({Music("a.wav")});
    fs::rename("audio.cfg", "default.cfg");
    fs::create_directory("audio.cfg.tmp");
    std::string err;
    ASSERT_EQ(Run("--render out.wav --seconds 6 --log", &err), 0) << err;
    EXPECT_FALSE(fs::exists("audio.cfg"));
    EXPECT_EQ(Count(err, "Tonewell: Tonewell could not copy default.cfg to audio.cfg"), 1u) << err;
    EXPECT_EQ(err.find("first time"), std::string::npos) << err;
    EXPECT_NE(err.find("status - play music T\\a.wav"), std::string::npos) << err;
    // Once the copy can be made, it is, and that start is the first run.
    fs::remove("audio.cfg.tmp");
    ASSERT_EQ(Run("--render out.wav --seconds 3", &err), 0) << err;
    EXPECT_EQ(tw::test::ReadText("audio.cfg"), tw::test::ReadText("default.cfg"));
    EXPECT_NE(err.find("first time"), std::string::npos) << err;
}

// A working folder that cannot be written, as a user who may not write it would
// meet it: the run says so once, claims no first run, and plays the defaults.
TEST_F(HostileInput, AWorkingFolderThatCannotBeWrittenIsSaidOnce) {
    if (::geteuid() != 0 || std::system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 3, 440, 44100, 2, 0.5);
    Config({Music("a.wav")});
    fs::rename("audio.cfg", "default.cfg");
    fs::create_directory("out");
    fs::permissions("out", fs::perms::all);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    // The run has its own copy of the program: the build folder may be closed to it.
    fs::copy_file(TONEWELL_EXE, "out/tonewell");
    std::string err;
    const std::string cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                            (folder / "out/tonewell").string() +
                            " --render out/out.wav --seconds 6 --log 2>out/err.txt";
    const int status = std::system(cmd.c_str());
    err = tw::test::ReadText("out/err.txt");
    ASSERT_TRUE(WIFEXITED(status)) << err;
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    EXPECT_EQ(Count(err, "Tonewell: Tonewell cannot save anything in its working folder " +
                             folder.string()),
              1u)
        << err;
    EXPECT_EQ(err.find("not found"), std::string::npos) << err;
    EXPECT_EQ(err.find("first time"), std::string::npos) << err;
    EXPECT_NE(err.find("status - play music T\\a.wav"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists("audio.cfg"));
}

}  // namespace
