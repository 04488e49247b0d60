#include <ebur128.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TempFolder.h"
#include "Wav.h"

namespace {

class RenderMode : public tw::test::TempFolderTest {
  protected:
    // Runs tonewell with `args` in the working folder; returns its exit code.
    int Run(const std::string& args, std::string* err = nullptr) {
        const std::string cmd = std::string(TONEWELL_EXE) + " " + args + " 2>err.txt";
        const int status = std::system(cmd.c_str());
        if (err) *err = tw::test::ReadText("err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(RenderMode, RendersAValidWavWithTheLogOnVirtualTime) {
    std::filesystem::create_directories("sounds/Music Tracks/T");
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 5, 440, 22050, 1);
    tw::test::WriteText(
        "default.cfg",
        "[VOICE]\n10\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
        "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
        ".\n\n[VOICE_LIST]\n.\n\n");
    std::string err;
    ASSERT_EQ(Run("--render out.wav --seconds 12 --start \"2026-12-07 09:00:00\" --log", &err), 0)
        << err;
    EXPECT_NE(err.find("[2.000] status - play music T\\a.wav"), std::string::npos) << err;
    EXPECT_NE(err.find("Tonewell: Since this is your first time running Tonewell"),
              std::string::npos);
    std::vector<float> samples;
    int channels = 0, rate = 0;
    ASSERT_TRUE(tw::test::ReadWav16("out.wav", samples, channels, rate));
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(samples.size(), 2u * 12 * 44100);
    EXPECT_EQ(tw::test::Rms(samples.data(), 2 * 44100), 0.0);  // silence before the first song
    EXPECT_GT(tw::test::Rms(samples.data() + 2 * 3 * 44100, 2 * 44100), 0.3);
    EXPECT_TRUE(std::filesystem::exists("audio.cfg"));
    EXPECT_TRUE(std::filesystem::exists("settings.cfg"));
}

// An hour of the on-hold cycle with a track that is missing: at the info level a
// line per sound started at most, and the missing file said once, not at every try.
TEST_F(RenderMode, TheInfoLevelKeepsWhatAnAdminReads) {
    tw::test::WriteSongAndMessage(30);
    std::string cfg = tw::test::ReadText("audio.cfg");
    const std::string missing = "sounds\\Music Tracks\\T\\gone.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n";
    cfg.insert(cfg.find("[MUSIC_LIST]\n") + 13, missing);
    tw::test::WriteText("audio.cfg", cfg);
    auto lines = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    std::string trace, info;
    ASSERT_EQ(Run("--render out.wav --seconds 3600 --preset phone --log", &trace), 0);
    ASSERT_EQ(Run("--render out.wav --seconds 3600 --preset phone --log-level info", &info), 0);
    const size_t plays = lines(info, "status - play ");
    EXPECT_GT(plays, 100u);
    EXPECT_EQ(plays, lines(trace, "status - play "));
    EXPECT_EQ(lines(info, "FSA - "), 0u);
    EXPECT_GT(lines(trace, "Unable to locate file"), 10u);
    EXPECT_EQ(lines(info, "error - Unable to locate file"), 1u) << info.substr(0, 2000);
    EXPECT_LE(lines(info, "\n"), plays + 10);
    std::printf("an hour: %zu lines at info, %zu with --log\n", lines(info, "\n"),
                lines(trace, "\n"));
}

TEST_F(RenderMode, BadArgumentsAndUnwritableOutput) {
    std::string err;
    EXPECT_EQ(Run("--render out.wav", &err), 2);
    EXPECT_NE(err.find("--seconds"), std::string::npos);
    EXPECT_EQ(Run("--render out.wav --seconds ten"), 2);
    EXPECT_EQ(Run("--render out.wav --seconds 0"), 2);
    EXPECT_EQ(Run("--render out.au --seconds 24348", &err), 2);  // more than an AU file holds
    EXPECT_NE(err.find("1 to 24347 for this file"), std::string::npos) << err;
    EXPECT_EQ(Run("--render out.flac --seconds 31622401"), 2);
    // A phone's WAV holds 74 hours, not the 6.7 of CD audio.
    EXPECT_EQ(Run("--render out.wav --preset phone --seconds 268436", &err), 2);
    EXPECT_NE(err.find("1 to 268435 for this file"), std::string::npos) << err;
    EXPECT_EQ(Run("--render out.wav --seconds 5 --start 2026-02-30"), 2);
    EXPECT_EQ(Run("--render"), 2);
    EXPECT_EQ(Run("--frobnicate"), 2);
    EXPECT_EQ(Run("--render no/such/folder/out.wav --seconds 5", &err), 2);
    EXPECT_NE(err.find("the folder no/such/folder does not exist"), std::string::npos);
    EXPECT_EQ(Run("--version"), 0);
    // A window with no display is said, not a Qt abort.
    const int status = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                    std::string(TONEWELL_EXE) + " --output null 2>err.txt")
                                       .c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_NE(tw::test::ReadText("err.txt").find("there is no display for the window"),
              std::string::npos);
}

// --workdir: the program works in that folder; a file to render keeps its place.
TEST_F(RenderMode, WorkdirChoosesTheFolderAndRefusesWhatIsNotOne) {
    std::filesystem::create_directories("home/sounds/Music Tracks/T");
    tw::test::WriteTone("home/sounds/Music Tracks/T/a.wav", 3, 440, 22050, 1);
    tw::test::WriteText(
        "home/audio.cfg",
        "[VOICE]\n10\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
        "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
        ".\n\n[VOICE_LIST]\n.\n\n");
    std::string err;
    ASSERT_EQ(Run("--workdir home --render out.wav --seconds 4 --log", &err), 0) << err;
    EXPECT_NE(err.find("status - play music T\\a.wav"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::exists("out.wav"));
    EXPECT_TRUE(std::filesystem::exists("home/settings.cfg"));
    EXPECT_FALSE(std::filesystem::exists("settings.cfg"));
    EXPECT_EQ(Run("--workdir missing --render out.wav --seconds 4", &err), 2);
    EXPECT_NE(err.find("--workdir missing is not a folder"), std::string::npos) << err;
    EXPECT_EQ(Run("--workdir out.wav --render x.wav --seconds 4", &err), 2);
    EXPECT_NE(err.find("is not a folder"), std::string::npos);
    EXPECT_EQ(Run("--workdir", &err), 2);
}

}  // namespace

// Two tones 12 dB apart, in turn: with levelling on they play within 1 LU of each
// other (measured in the render with libebur128), with it off 12 dB apart; the loud
// one is brought down, never pushed past full scale.
TEST_F(RenderMode, LevellingEvensOutTracksInTheRender) {
    std::filesystem::create_directories("sounds/Music Tracks/T");
    tw::test::WriteTone("sounds/Music Tracks/T/loud.wav", 5, 440, 44100, 2, 0.9);
    tw::test::WriteTone("sounds/Music Tracks/T/quiet.wav", 5, 440, 44100, 2, 0.9 / 4);
    tw::test::WriteText(
        "audio.cfg",
        "[VOICE]\n10\n10\n0\n\n[MUSIC]\n1\n10\n0\n\n[MUSIC_LIST]\n"
        "sounds\\Music Tracks\\T\\loud.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
        "sounds\\Music Tracks\\T\\quiet.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
        ".\n\n[VOICE_LIST]\n.\n\n");
    // Loud from 2 s to 7 s, quiet from 8 s to 13 s.
    auto difference = [this](double& peak) {
        std::string err;
        EXPECT_EQ(Run("--render out.wav --seconds 14 --log", &err), 0) << err;
        std::vector<float> s;
        int channels = 0, rate = 0;
        EXPECT_TRUE(tw::test::ReadWav16("out.wav", s, channels, rate));
        auto lufs = [&](double from, double to) {
            ebur128_state* st = ebur128_init(2, 44100, EBUR128_MODE_I);
            ebur128_add_frames_float(st, s.data() + 2 * static_cast<size_t>(from * rate),
                                     static_cast<size_t>((to - from) * rate));
            double l = 0;
            ebur128_loudness_global(st, &l);
            ebur128_destroy(&st);
            return l;
        };
        peak = 0;
        for (float v : s) peak = std::max(peak, static_cast<double>(std::fabs(v)));
        return lufs(2.5, 6.5) - lufs(8.5, 12.5);
    };
    double peak = 0;
    EXPECT_NEAR(difference(peak), 12.0, 0.5);
    tw::test::WriteText("tonewell.conf", "loudness = on\n");
    EXPECT_NEAR(difference(peak), 0.0, 1.0);
    EXPECT_LE(peak, 1.0);
    EXPECT_NE(tw::test::ReadText("loudness.cache").find("T\\loud.wav"), std::string::npos);
}

// --coverage reads the lists without writing anything and answers by its status.
TEST_F(RenderMode, CoverageReportsTheUncoveredHoursAndItsStatusSaysSo) {
    auto config = [](const std::string& musicSchedule) {
        tw::test::WriteText("audio.cfg",
                            "[VOICE]\n10\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
                            "sounds\\Music Tracks\\T\\a.wav\n" +
                                musicSchedule +
                                "\n.\n\n[VOICE_LIST]\nsounds\\Voice Messages\\V\\m.wav\n"
                                "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n");
    };
    config("false 2008 1 1 2008 1 1 true 9 0 0 17 0 0");
    const std::string cmd = std::string(TONEWELL_EXE) + " --coverage --from 2027-01-01 --days 2";
    int status = std::system((cmd + " >out.txt 2>err.txt").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(tw::test::ReadText("out.txt"),
              "2027-01-01  music: 00:00-09:00, 17:01-24:00  voice: covered\n"
              "2027-01-02  music: 00:00-09:00, 17:01-24:00  voice: covered\n"
              "No music after 17:00 until 09:00 every day.\n"
              "Voice messages play at every hour of the year.\n");
    config("false 2008 1 1 2008 1 1 false 0 0 0 0 0 0");
    status = std::system((cmd + " >out.txt 2>err.txt").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists("settings.cfg"));  // nothing written
    for (const char* bad : {"--days 0", "--days 100000", "--from 2027-02-30", "--from tomorrow"})
        EXPECT_EQ(Run(std::string("--coverage ") + bad), 2) << bad;
}
