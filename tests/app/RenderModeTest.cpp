#include <gtest/gtest.h>
#include <sys/wait.h>

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

TEST_F(RenderMode, BadArgumentsAndUnwritableOutput) {
    std::string err;
    EXPECT_EQ(Run("--render out.wav", &err), 2);
    EXPECT_NE(err.find("--seconds"), std::string::npos);
    EXPECT_EQ(Run("--render out.wav --seconds ten"), 2);
    EXPECT_EQ(Run("--render out.wav --seconds 0"), 2);
    EXPECT_EQ(Run("--render out.wav --seconds 24348"), 2);  // more than a WAV file holds
    EXPECT_EQ(Run("--render out.wav --seconds 5 --start 2026-02-30"), 2);
    EXPECT_EQ(Run("--render"), 2);
    EXPECT_EQ(Run("--frobnicate"), 2);
    EXPECT_EQ(Run("--render no/such/folder/out.wav --seconds 5", &err), 2);
    EXPECT_NE(err.find("cannot write no/such/folder/out.wav"), std::string::npos);
    EXPECT_EQ(Run("--version"), 0);
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
