#include <gtest/gtest.h>

#include <filesystem>

#include "AppSettings.h"
#include "LogCapture.h"
#include "TempFolder.h"

using namespace tw;

namespace {

class Settings : public test::TempFolderTest {};

TEST_F(Settings, MissingFileIsCreatedWithTheDefaults) {
    AppSettings s;
    s.LoadSettings();
    EXPECT_EQ(test::ReadText("settings.cfg"),
              std::string("\x01\x01\x01", 3) + std::string(16, '\0'));
    EXPECT_EQ(s.autoStart, 1);
    EXPECT_EQ(s.trayIcon, 1);
}

TEST_F(Settings, RoundTripAndShortFiles) {
    AppSettings s;
    s.autoStart = 0;
    s.startPlaying = 1;
    s.trayIcon = 0;
    for (int i = 0; i < 16; ++i) s.device[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_TRUE(s.SaveSettings());
    EXPECT_EQ(std::filesystem::file_size("settings.cfg"), 19u);
    AppSettings back;
    back.LoadSettings();
    EXPECT_EQ(back.autoStart, 0);
    EXPECT_EQ(back.trayIcon, 0);
    EXPECT_EQ(back.device, s.device);

    test::WriteText("settings.cfg", std::string("\x00\x00\x00\x11\x22", 5));
    back.LoadSettings();
    EXPECT_EQ(back.startPlaying, 0);
    EXPECT_EQ(back.device[0], 0x11);
    EXPECT_EQ(back.device[1], 0x22);
    EXPECT_EQ(back.device[2], 0);  // not covered: default

    test::WriteText("settings.cfg", "");
    back.LoadSettings();
    EXPECT_EQ(back.autoStart, 1);
    EXPECT_EQ(back.startPlaying, 1);
}

TEST_F(Settings, FailedWriteKeepsTheOldFile) {
    AppSettings s;
    s.LoadSettings();
    std::filesystem::create_directory("settings.cfg.tmp");
    test::LogCapture log;
    s.autoStart = 0;
    EXPECT_FALSE(s.SaveSettings());
    EXPECT_EQ(test::ReadText("settings.cfg")[0], '\x01');
    EXPECT_EQ(log.lines.size(), 1u);
}

}  // namespace
