#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>
#include <vector>

#include "AppSettings.h"
#include "Process.h"
#include "TempFolder.h"
#include "Wav.h"

namespace {

using namespace std::chrono_literals;
using tw::test::Process;

class Processes : public tw::test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::filesystem::create_directories("sounds/Music Tracks/T");
        tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 20, 440, 44100, 2, 0.5);
        tw::test::WriteText(
            "default.cfg",
            "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
            "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
            ".\n\n[VOICE_LIST]\n.\n\n");
    }
};

TEST_F(Processes, AutomaticStartWithAutoStartOffEndsAtOnce) {
    tw::AppSettings s;
    s.autoStart = 0;
    ASSERT_TRUE(s.SaveSettings());
    for (const char* sw : {"-automation", "/AUTOMATION", "--Automation"}) {
        Process p({sw}, "err.txt");
        EXPECT_EQ(p.Wait(10s), 0) << sw;
        // The window was never built: it would have made "audio.cfg" from "default.cfg".
        EXPECT_FALSE(std::filesystem::exists("audio.cfg")) << sw;
        // Nor was any box shown.
        const std::string err = tw::test::ReadText("err.txt");
        EXPECT_EQ(err.find("Tonewell"), std::string::npos) << err;
        EXPECT_EQ(err.find("Error"), std::string::npos) << err;
    }
}

// The lock is the kernel's, not the file's: an empty, garbled or stale
// tonewell.lock (a start killed early, a crash) never keeps a start out.
TEST_F(Processes, SecondInstanceIsRefusedAndALockNobodyHoldsIsTakenOver) {
    for (const std::string& left : {std::string(), std::string("garbage\n\x01\x02"),
                                    std::string("1\nTonewell\nsomehost\n")}) {
        tw::test::WriteText("tonewell.lock", left);
        Process p({"--headless", "--output", "null"}, "stale.txt");
        EXPECT_EQ(p.Wait(1500ms), -1) << tw::test::ReadText("stale.txt");  // still playing
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10s), 0);
    }
    {
        Process killed({"--headless", "--output", "null"}, "killed.txt");
        std::this_thread::sleep_for(1000ms);
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Wait(10s), 128 + SIGKILL);
    }
    Process first({"--headless", "--output", "null"}, "first.txt");
    std::this_thread::sleep_for(1500ms);
    Process second({"--headless", "--output", "null"}, "second.txt");
    EXPECT_EQ(second.Wait(10s), 1);
    EXPECT_EQ(tw::test::ReadText("second.txt"),
              "Tonewell: Please note that Tonewell is already running.  There is no need to run "
              "more than one instance.\n");
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10s), 0);
    // The lock went with it.
    Process third({"--headless", "--output", "null"}, "third.txt");
    std::this_thread::sleep_for(1000ms);
    third.Signal(SIGINT);
    EXPECT_EQ(third.Wait(10s), 0);
}

TEST_F(Processes, HeadlessIsHeardOnTheSoundServerAndStopsOnSigterm) {
    if (!std::getenv("TONEWELL_PULSE")) GTEST_SKIP() << "no test sound server";
    Process player({"--headless", "--log"}, "log.txt");
    std::this_thread::sleep_for(5000ms);
    std::system(
        "timeout 2 parec --raw --format=s16le --rate=44100 --channels=2 -d moh.monitor > rec.raw");
    std::ifstream in("rec.raw", std::ios::binary);
    std::vector<float> samples;
    int16_t v;
    while (in.read(reinterpret_cast<char*>(&v), 2)) samples.push_back(v / 32768.0f);
    ASSERT_GT(samples.size(), 44100u);
    EXPECT_GT(tw::test::Rms(samples.data(), samples.size()), 0.1);
    player.Signal(SIGTERM);
    EXPECT_EQ(player.Wait(10s), 0);
    const std::string log = tw::test::ReadText("log.txt");
    EXPECT_NE(log.find("status - play music T\\a.wav"), std::string::npos) << log;
    EXPECT_NE(log.find("status - stopping"), std::string::npos);
}

// Started from the menu on a fresh account: the data folder of its own is made
// and filled from the installed data, and it plays; a second start reuses it.
TEST_F(Processes, AFreshAccountGetsAFolderFilledFromTheInstalledData) {
    namespace fs = std::filesystem;
    fs::create_directories("installed/sounds/Music Tracks/T");
    fs::copy_file("default.cfg", "installed/default.cfg");
    fs::copy_file("sounds/Music Tracks/T/a.wav", "installed/sounds/Music Tracks/T/a.wav");
    fs::create_directories("home");
    fs::create_directories("elsewhere");
    const std::string here = fs::current_path().string();
    setenv("HOME", (here + "/home").c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    setenv("TONEWELL_DATA_DIR", (here + "/installed").c_str(), 1);
    fs::current_path("elsewhere");  // a folder with nothing of ours
    const fs::path data = fs::path(here) / "home/.local/share/tonewell";
    {
        Process p({"--headless", "--output", "null", "--log"}, here + "/first.txt");
        std::this_thread::sleep_for(4s);
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10s), 0);
    }
    const std::string first = tw::test::ReadText(here + "/first.txt");
    EXPECT_NE(first.find("status - play music T\\a.wav"), std::string::npos) << first;
    EXPECT_TRUE(fs::exists(data / "default.cfg"));
    EXPECT_TRUE(fs::exists(data / "audio.cfg"));  // its first run
    EXPECT_FALSE(fs::exists("audio.cfg"));
    // Again, with --desktop: the same folder, as it was (no second first run).
    tw::test::WriteText((data / "audio.cfg").string(),
                        tw::test::ReadText((data / "audio.cfg").string()) + "\n");
    const std::string before = tw::test::ReadText((data / "audio.cfg").string());
    {
        Process p({"--headless", "--output", "null", "--desktop", "--log"}, here + "/second.txt");
        std::this_thread::sleep_for(3s);
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10s), 0);
    }
    EXPECT_EQ(tw::test::ReadText((data / "audio.cfg").string()), before);
    EXPECT_EQ(tw::test::ReadText(here + "/second.txt").find("filled from"), std::string::npos);
    // No installed data: said, and it runs with nothing to play.
    fs::remove_all(data);
    setenv("TONEWELL_DATA_DIR", (here + "/nowhere").c_str(), 1);
    {
        Process p({"--headless", "--output", "null"}, here + "/third.txt");
        std::this_thread::sleep_for(2s);
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(10s), 0);
    }
    EXPECT_NE(
        tw::test::ReadText(here + "/third.txt")
            .find("Tonewell: Tonewell cannot use its data folder: the installed data is missing"),
        std::string::npos)
        << tw::test::ReadText(here + "/third.txt");
    fs::current_path(here);
    unsetenv("TONEWELL_DATA_DIR");
}

// What xdotool finds: the ids of visible windows titled exactly `title`.
std::string VisibleWindows(const std::string& title) {
    std::string out;
    FILE* p =
        popen(("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char line[128];
    while (fgets(line, sizeof line, p)) out += line;
    pclose(p);
    return out;
}

size_t Plays(const std::string& log) {
    size_t n = 0;
    for (size_t at = log.find("status - play music"); at != std::string::npos;
         at = log.find("status - play music", at + 1))
        ++n;
    return n;
}

// Hiding the window to the tray never ends the program: at an automatic start
// with the tray setting on, and when the user minimizes it. Needs a real X
// server with a window manager and a tray (the offscreen platform has neither).
TEST_F(Processes, HidingToTheTrayNeverEndsTheProgram) {
    const char* display = std::getenv("TONEWELL_X_DISPLAY");
    if (!display) GTEST_SKIP() << "no X server with a tray";
    std::filesystem::copy_file("default.cfg", "audio.cfg");  // no first-run notice
    // One-second songs two seconds apart: a player that goes on logs every few seconds.
    tw::test::WriteTone("sounds/Music Tracks/T/a.wav", 1, 440, 44100, 2, 0.5);
    tw::AppSettings s;
    s.autoStart = 1;
    s.startPlaying = 1;
    s.trayIcon = 1;
    ASSERT_TRUE(s.SaveSettings());
    setenv("DISPLAY", display, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    {
        Process p({"-automation", "--log"}, "auto.txt");
        std::this_thread::sleep_for(8s);
        EXPECT_EQ(p.Wait(0ms), -1) << "ended: " << tw::test::ReadText("auto.txt");
        EXPECT_EQ(VisibleWindows("Tonewell v1.0"), "");  // in the tray
        EXPECT_GE(Plays(tw::test::ReadText("auto.txt")), 2u);
    }
    {
        Process p({"--log"}, "window.txt");
        std::string window;
        for (int i = 0; i < 100 && window.empty(); ++i) {
            std::this_thread::sleep_for(100ms);
            window = VisibleWindows("Tonewell v1.0");
        }
        ASSERT_FALSE(window.empty()) << tw::test::ReadText("window.txt");
        window.resize(window.find('\n'));
        ASSERT_EQ(std::system(("xdotool windowminimize " + window).c_str()), 0);
        std::this_thread::sleep_for(1s);
        const size_t before = Plays(tw::test::ReadText("window.txt"));
        std::this_thread::sleep_for(6s);
        EXPECT_EQ(p.Wait(0ms), -1) << "ended: " << tw::test::ReadText("window.txt");
        EXPECT_EQ(VisibleWindows("Tonewell v1.0"), "");
        // Still playing in the tray.
        EXPECT_GT(Plays(tw::test::ReadText("window.txt")), before);
        // A second start brings it out of the tray, and ends; one for another folder
        // is told that the window keeps its own.
        std::filesystem::create_directory("elsewhere");
        Process second({"--workdir", "elsewhere"}, "second.txt");
        EXPECT_EQ(second.Wait(10s), 0) << tw::test::ReadText("second.txt");
        EXPECT_NE(tw::test::ReadText("second.txt").find("keeps its own working folder, not elsewhere"),
                  std::string::npos)
            << tw::test::ReadText("second.txt");
        std::string shown;
        for (int i = 0; i < 50 && shown.empty(); ++i) {
            std::this_thread::sleep_for(100ms);
            shown = VisibleWindows("Tonewell v1.0");
        }
        EXPECT_FALSE(shown.empty());
        EXPECT_EQ(p.Wait(0ms), -1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// x, y, width, height of a window as xdotool sees it; empty when it cannot tell.
std::vector<int> Geometry(const std::string& window) {
    std::vector<int> g;
    FILE* p = popen(("xdotool getwindowgeometry --shell " + window).c_str(), "r");
    if (!p) return g;
    char line[128];
    int v = 0;
    while (fgets(line, sizeof line, p))
        for (const char* key : {"X=", "Y=", "WIDTH=", "HEIGHT="})
            if (std::sscanf(line, (std::string(key) + "%d").c_str(), &v) == 1) g.push_back(v);
    pclose(p);
    return g;
}

std::string WaitForWindow(const std::string& title) {
    std::string window;
    for (int i = 0; i < 100 && window.empty(); ++i) {
        std::this_thread::sleep_for(100ms);
        window = VisibleWindows(title);
    }
    if (!window.empty()) window.resize(window.find('\n'));
    return window;
}

// At twice the scale on a 1280x900 screen, the main window and every dialog lie on
// the screen whole; windows come back where they were left.
TEST_F(Processes, WindowsFitTheScreenAtDoubleScaleAndTheWindowComesBackWhereItWas) {
    const char* display = std::getenv("TONEWELL_X_DISPLAY");
    if (!display) GTEST_SKIP() << "no X server";
    std::filesystem::copy_file("default.cfg", "audio.cfg");
    tw::AppSettings s;
    s.startPlaying = 0;  // paused: closing asks nothing
    ASSERT_TRUE(s.SaveSettings());
    setenv("DISPLAY", display, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_SCALE_FACTOR", "2", 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    auto onScreen = [](const std::vector<int>& g) {
        return g.size() == 4 && g[0] >= 0 && g[1] >= 0 && g[0] + g[2] <= 1280 && g[1] + g[3] <= 900;
    };
    auto keys = [](const std::string& window, const std::string& keys) {
        std::system(("xdotool windowactivate --sync " + window + " key " + keys).c_str());
    };
    // Opens a dialog from the keyboard, checks it lies on the screen, and closes it
    // with Escape; returns its geometry before the close.
    auto dialog = [&](const std::string& from, const std::string& with, const std::string& title,
                      const std::function<void(const std::string&)>& meanwhile = {}) {
        keys(from, with);
        const std::string d = WaitForWindow(title);
        EXPECT_FALSE(d.empty()) << title;
        if (d.empty()) return std::vector<int>{};
        EXPECT_TRUE(onScreen(Geometry(d))) << title << ::testing::PrintToString(Geometry(d));
        if (meanwhile) meanwhile(d);
        std::vector<int> g = Geometry(d);
        keys(d, "Escape");
        for (int i = 0; i < 50 && !VisibleWindows(title).empty(); ++i)
            std::this_thread::sleep_for(100ms);
        return g;
    };
    std::vector<int> left, helpLeft;
    {
        Process p({"--log"}, "first.txt");
        const std::string window = WaitForWindow("Tonewell v1.0 \\(paused\\)");
        ASSERT_FALSE(window.empty()) << tw::test::ReadText("first.txt");
        EXPECT_TRUE(onScreen(Geometry(window))) << ::testing::PrintToString(Geometry(window));
        dialog(window, "alt+f m", "Manage Audio", [&](const std::string& manage) {
            dialog(manage, "alt+a", "Add Music Tracks");
        });
        dialog(window, "alt+s", "Settings");
        dialog(window, "ctrl+comma", "Settings");
        dialog(window, "alt+f r", "Record Voice Messages");
        dialog(window, "alt+f n", "Tonewell Playlist");
        dialog(window, "alt+h a", "About Tonewell");
        helpLeft = dialog(window, "F1", "Tonewell Help", [](const std::string& help) {
            std::system(("xdotool windowsize --sync " + help + " 500 400").c_str());
            std::system(("xdotool windowmove --sync " + help + " 40 60").c_str());
            std::this_thread::sleep_for(500ms);
        });
        std::system(("xdotool windowmove --sync " + window + " 10 30").c_str());
        std::this_thread::sleep_for(1500ms);
        left = Geometry(window);
        keys(window, "ctrl+q");
        EXPECT_EQ(p.Wait(10s), 0) << tw::test::ReadText("first.txt");
    }
    {
        Process p({"--log"}, "second.txt");
        const std::string window = WaitForWindow("Tonewell v1.0 \\(paused\\)");
        ASSERT_FALSE(window.empty());
        std::this_thread::sleep_for(500ms);
        // Where and how large it was left (the frame may land a pixel or two off).
        auto samePlace = [](const std::vector<int>& back, const std::vector<int>& left) {
            return back.size() == 4 && left.size() == 4 && std::abs(back[0] - left[0]) <= 4 &&
                   std::abs(back[1] - left[1]) <= 4 && back[2] == left[2] && back[3] == left[3];
        };
        EXPECT_PRED2(samePlace, Geometry(window), left);
        // A dialog too.
        EXPECT_PRED2(samePlace, dialog(window, "F1", "Tonewell Help"), helpLeft);
        keys(window, "ctrl+q");
        EXPECT_EQ(p.Wait(10s), 0);
    }
    unsetenv("QT_SCALE_FACTOR");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace
