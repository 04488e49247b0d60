#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "AtomicFile.h"
#include "Autostart.h"
#include "Clock.h"
#include "LogCapture.h"
#include "MessageBox.h"
#include "Paths.h"
#include "TempFolder.h"

using namespace tw;

namespace {

TEST(Log, FormatsIntoA256ByteLineAndDiscardsWhenOff) {
    {
        test::LogCapture log;
        Log("status - play music %s", std::string(400, 'x').c_str());
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].size(), 255u);
        EXPECT_EQ(log.lines[0].rfind("status - play music xxx", 0), 0u);
    }
    std::vector<std::string> seen;
    SetLogCapture([&](const std::string& l) { seen.push_back(l); });
    Log("discarded");
    SetLogCapture(nullptr);
    EXPECT_TRUE(seen.empty());
}

TEST(RecordingMessageBox, RecordsAndAnswersFromTheQueue) {
    RecordingMessageBox boxes;
    boxes.QueueAnswer(MbResult::No);
    EXPECT_EQ(boxes.Show("Sure?", "Question", MbButtons::YesNo), MbResult::No);
    EXPECT_EQ(boxes.Show("Again?", "Question", MbButtons::YesNo), MbResult::Yes);
    EXPECT_EQ(boxes.Show("Done", "Info"), MbResult::Ok);
    ASSERT_EQ(boxes.boxes().size(), 3u);
    EXPECT_EQ(boxes.boxes()[0].text, "Sure?");
    EXPECT_EQ(boxes.boxes()[2].caption, "Info");
}

TEST(Paths, NativePathKeepsCaseAndSpaces) {
    EXPECT_EQ(NativePath("sounds\\Music Tracks\\Jazz\\Blue Evening.MP3"),
              "sounds/Music Tracks/Jazz/Blue Evening.MP3");
    EXPECT_EQ(AsciiLower("A.Mp3"), "a.mp3");
}

TEST(Clock, ParsesOnlyRealDates) {
    LocalTime t;
    EXPECT_TRUE(ParseLocalTime("2026-02-28 23:59:01", t));
    EXPECT_EQ(t.day, 28);
    EXPECT_EQ(t.second, 1);
    EXPECT_FALSE(ParseLocalTime("2026-02-30 10:00:00", t));
    EXPECT_FALSE(ParseLocalTime("2026-02-03", t));
    EXPECT_FALSE(ParseLocalTime("2026-02-03 10:00:00x", t));
    EXPECT_FALSE(ParseLocalTime("2026-13-03 10:00:00", t));
}

class AtomicFileTest : public test::TempFolderTest {};

TEST_F(AtomicFileTest, ReplacesWholeAndLeavesOldFileOnFailure) {
    ASSERT_TRUE(WriteFileAtomically("a.txt", "first"));
    ASSERT_TRUE(WriteFileAtomically("a.txt", "second"));
    EXPECT_EQ(test::ReadText("a.txt"), "second");
    EXPECT_FALSE(std::filesystem::exists("a.txt.tmp"));
    // A folder standing where the temporary file goes makes the write fail.
    std::filesystem::create_directory("a.txt.tmp");
    test::LogCapture log;
    EXPECT_FALSE(WriteFileAtomically("a.txt", "third"));
    EXPECT_EQ(test::ReadText("a.txt"), "second");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("error - cannot write a.txt", 0), 0u);
}

// The login start is an XDG autostart entry that follows the settings box.
TEST_F(AtomicFileTest, AutostartEntryIsWrittenAndRemoved) {
    const std::string config = std::filesystem::current_path().string() + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(AutostartEntryPath(), config + "/autostart/tonewell.desktop");
    std::string why;
    ASSERT_TRUE(SetAutostart(true, "/usr/bin/tonewell", "/home/a b/my \"music\" $HOME", why))
        << why;
    const std::string entry = test::ReadText(AutostartEntryPath());
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"/usr/bin/tonewell\" -automation --workdir "
                         "\"/home/a b/my \\\\\"music\\\\\" \\\\$HOME\"\n"),
              std::string::npos)
        << entry;
    ASSERT_TRUE(SetAutostart(false, "/usr/bin/tonewell", "/w", why));
    EXPECT_FALSE(std::filesystem::exists(AutostartEntryPath()));
    EXPECT_TRUE(SetAutostart(false, "/usr/bin/tonewell", "/w", why));  // already gone
    // A folder that cannot be made: false, and why.
    std::filesystem::remove_all(config);
    test::WriteText(config, "a file where the folder would be");
    EXPECT_FALSE(SetAutostart(true, "/usr/bin/tonewell", "/w", why));
    EXPECT_NE(why.find(config), std::string::npos);
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
