#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "TempFolder.h"
#include "VirtualSession.h"
#include "Wav.h"

using namespace tw;

namespace {

struct RecordingView : PlayerView {
    std::vector<int> musicRows, voiceRows, musicProgress, voiceProgress;
    std::string title;
    bool playEnabled = false, pauseEnabled = false, manageEnabled = true;
    std::vector<std::string> voiceList, musicList;
    void SelectMusicRow(int r) override { musicRows.push_back(r); }
    void SelectVoiceRow(int r) override { voiceRows.push_back(r); }
    void SetMusicProgress(int p) override { musicProgress.push_back(p); }
    void SetVoiceProgress(int p) override { voiceProgress.push_back(p); }
    void SetTitle(const std::string& t) override { title = t; }
    void SetButtons(bool play, bool pause) override { playEnabled = play, pauseEnabled = pause; }
    void SetFileLists(const std::vector<std::string>& v,
                      const std::vector<std::string>& m) override {
        voiceList = v;
        musicList = m;
    }
    void EnableManageAudio(bool e) override { manageEnabled = e; }
    std::string status;
    TrackProblems voiceProblems, musicProblems;
    void SetStatus(const std::string& t) override { status = t; }
    void MarkFailedTracks(const TrackProblems& v, const TrackProblems& m) override {
        voiceProblems = v;
        musicProblems = m;
    }
};

std::string Record(const std::string& name,
                   const std::string& schedule = "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0") {
    return name + "\n" + schedule + "\n";
}

class Player : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::filesystem::create_directories("sounds/Music Tracks/T");
        std::filesystem::create_directories("sounds/Voice Messages/V");
    }
    void TearDown() override {
        session.reset();
        TempFolderTest::TearDown();
    }
    // A music tone of `seconds` at 440 Hz, 44.1 kHz stereo.
    std::string Song(const std::string& name, double seconds) {
        test::WriteTone("sounds/Music Tracks/T/" + name, seconds, 440, 44100, 2, 0.5);
        return "sounds\\Music Tracks\\T\\" + name;
    }
    // A voice tone of `seconds` at 1 kHz, 8 kHz mono.
    std::string Message(const std::string& name, double seconds) {
        test::WriteTone("sounds/Voice Messages/V/" + name, seconds, 1000, 8000, 1, 0.5);
        return "sounds\\Voice Messages\\V\\" + name;
    }
    void Config(int voiceGap, int musicGap, const std::vector<std::string>& music,
                const std::vector<std::string>& voice) {
        std::string text = "[VOICE]\n" + std::to_string(voiceGap) + "\n10\n0\n\n[MUSIC]\n" +
                           std::to_string(musicGap) + "\n10\n0\n\n[MUSIC_LIST]\n";
        for (const auto& m : music)
            text += m.find('\n') == std::string::npos ? Record(m) : m + "\n";
        text += ".\n\n[VOICE_LIST]\n";
        for (const auto& v : voice)
            text += v.find('\n') == std::string::npos ? Record(v) : v + "\n";
        text += ".\n\n";
        test::WriteText("audio.cfg", text);
    }
    void Start(LocalTime start = {2026, 12, 7, 9, 0, 0}, bool background = false) {
        session =
            std::make_unique<VirtualSession>(start, *boxesInUse, view, 44100, true, background);
        VirtualClock* clock = &session->clock();
        SetLogCapture([this, clock](const std::string& line) {
            log.lines.push_back(line);
            times.push_back(clock->ElapsedMs());
        });
        session->player().Initialise();
    }
    OnHoldPlayer& player() { return session->player(); }
    // The virtual time (ms) at which a line was first logged, or -1.
    int64_t When(const std::string& line, int nth = 0) const {
        for (size_t i = 0; i < log.lines.size(); ++i)
            if (log.lines[i] == line && nth-- == 0) return times[i];
        return -1;
    }
    std::vector<std::string> States() const {
        std::vector<std::string> out;
        for (const auto& l : log.lines) {
            const size_t at = l.find("FSA - Entering state: ");
            if (at != std::string::npos) out.push_back(l.substr(at + 22));
        }
        return out;
    }
    bool Entered(const std::string& state) const {
        for (const auto& s : States())
            if (s == state) return true;
        return false;
    }

    test::LogCapture log;
    std::vector<int64_t> times;  // virtual time of each captured line
    RecordingMessageBox boxes;
    MessageBox* boxesInUse = &boxes;
    RecordingView view;
    std::unique_ptr<VirtualSession> session;
};

TEST_F(Player, OneCycleOnTheVirtualClock) {
    Config(10, 2, {Song("a.wav", 20)}, {Message("m.wav", 3)});
    Start();
    std::vector<int> levels;
    std::vector<float> audio;
    // Watch the song's level every 100 ms, and keep the sound.
    for (int step = 0; step < 320; ++step) {
        session->Run(100, [&](const float* s, int n) { audio.insert(audio.end(), s, s + 2 * n); });
        const auto& cur = player().music().current;
        if (cur.buffer && (levels.empty() || levels.back() != cur.buffer->GetVolume() ||
                           player().automaton().StateName().rfind("dwnctn", 0) == 0 ||
                           player().automaton().StateName().rfind("upctn", 0) == 0))
            levels.push_back(cur.buffer->GetVolume());
    }
    EXPECT_EQ(When("FSA - Entering state: mussil_vocsil"), 1000);
    EXPECT_EQ(When("status - play music T\\a.wav"), 2000);
    EXPECT_EQ(When("FSA - Entering state: dwnbgn_vocsil"), 11000);  // 10 s after the start tick
    EXPECT_EQ(When("status - play voice V\\m.wav"), 13100);         // the 21st fade tick
    EXPECT_EQ(When("FSA - Entering state: upbgn_vocsil"), 17000);   // first tick after its end
    EXPECT_EQ(When("FSA - Entering state: upfin_vocsil"), 19100);
    EXPECT_EQ(When("FSA - Entering state: dwnbgn_vocsil", 1), 29100);  // gap counted from there
    EXPECT_TRUE(log.With("error").empty()) << log.With("error")[0];

    // The fade as the buffer saw it: 0 at first, the 21 steps down, then up again.
    std::vector<int> down, up;
    for (int n = 1; n <= 20; ++n) down.push_back(-75 * n);
    for (int n = 1; n <= 20; ++n) up.push_back(-75 * (20 - n));
    auto contains = [&](const std::vector<int>& part) {
        return std::search(levels.begin(), levels.end(), part.begin(), part.end()) != levels.end();
    };
    EXPECT_TRUE(contains(down));
    EXPECT_TRUE(contains(up));

    // The song, measured at 440 Hz, is 15 dB down under the message.
    auto tone = [&](double from, double seconds) {
        std::vector<float> left;
        for (int i = static_cast<int>(from * 44100); i < static_cast<int>((from + seconds) * 44100);
             ++i)
            left.push_back(audio[2 * i]);
        return test::ToneMagnitude(left, 44100, 440);
    };
    EXPECT_NEAR(test::Db(tone(14.0, 1.5) / tone(5.0, 4.0)), -15.0, 0.5);
    EXPECT_GT(tone(25.0, 2.0) / tone(5.0, 4.0), 0.98);  // back up to full level
}

TEST_F(Player, SongsEndingBeforeDuringAndAfterFades) {
    struct Case {
        double songSeconds;
        std::string expect;
    } cases[] = {
        {5.0, "musfin_vocsil"},   // before the message falls due
        {9.6, "dwnabt_vocsil"},   // during the fade-down
        {12.5, "muspsd_vocctn"},  // under the message
        {15.5, "upabt_vocsil"},   // during the fade-up
    };
    for (const Case& c : cases) {
        log.lines.clear();
        times.clear();
        std::filesystem::remove("audio.cfg");
        Config(10, 2, {Song("a.wav", c.songSeconds)}, {Message("m.wav", 3)});
        Start();
        session->Run(40000);
        EXPECT_TRUE(Entered(c.expect)) << c.songSeconds;
        EXPECT_FALSE(player().automaton().automatonHalted()) << c.songSeconds;
        EXPECT_GE(log.With("status - play music").size(), 2u) << c.songSeconds;
        EXPECT_GE(log.With("status - play voice").size(), 2u) << c.songSeconds;
        session.reset();
    }
}

TEST_F(Player, ShortMessageIsSeenToEnd) {
    Config(10, 2, {}, {Message("short.wav", 0.4)});
    Start();
    session->Run(35000);
    EXPECT_EQ(When("status - play voice V\\short.wav"), 11000);
    EXPECT_EQ(When("status - voice track finished"), 12000);
    EXPECT_EQ(When("status - play voice V\\short.wav", 1), 22000);  // gap from the end
    EXPECT_EQ(When("status - play voice V\\short.wav", 2), 33000);
    EXPECT_TRUE(log.With("status - play music").empty());
}

TEST_F(Player, MissingFileIsSkippedWithOneBox) {
    const std::string a = Song("a.wav", 2), c = Song("c.wav", 2);
    Config(60, 1, {a, "sounds\\Music Tracks\\T\\b.wav", c}, {});
    Start();
    session->Run(30000);
    const auto played = log.With("status - play music ");
    ASSERT_GE(played.size(), 6u);
    for (size_t i = 0; i < played.size(); ++i)
        EXPECT_EQ(played[i], i % 2 ? "T\\c.wav" : "T\\a.wav") << i;
    // Shown once; the repeats only go to the log.
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Unable to locate file (sounds\\Music Tracks\\T\\b.wav)");
    EXPECT_GE(log.With("error - Unable to locate file").size(), 2u);
}

// A box, like a real one, runs the loop while it is open: here two seconds of
// timers run inside it. A load error in a preload (inside the automaton's
// action) then lets a short message end meanwhile; its end must not reach the
// automaton half way through the action, and the line must keep playing.
class NestingBoxes : public RecordingMessageBox {
  public:
    explicit NestingBoxes(std::unique_ptr<VirtualSession>& session) : session_(session) {}

  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override {
        const MbResult r = RecordingMessageBox::DoShow(text, caption, buttons, icon);
        if (session_) session_->timers().Advance(2000);
        return r;
    }

  private:
    std::unique_ptr<VirtualSession>& session_;
};

TEST_F(Player, ABoxInsideAnActionNeverHaltsTheCycle) {
    NestingBoxes nesting(session);
    boxesInUse = &nesting;
    Config(5, 1, {Song("a.wav", 60)},
           {Message("m.wav", 0.5), "sounds\\Voice Messages\\V\\gone.wav"});
    Start();
    session->Run(40000);
    ASSERT_EQ(nesting.boxes().size(), 1u);
    EXPECT_TRUE(log.With("Error - Unhandled event").empty());
    EXPECT_FALSE(player().automaton().automatonHalted());
    EXPECT_GE(log.With("status - play voice V\\m.wav").size(), 3u);
    EXPECT_NE(player().music().current.stream, nullptr);
    session.reset();
}

// When the automaton meets an event it has no rule for, the line is not left
// silent: the error is logged and shown once, and a new cycle starts.
TEST_F(Player, AHaltedAutomatonStartsANewCycle) {
    Config(60, 1, {Song("a.wav", 30)}, {});
    Start();
    session->Run(5000);
    ASSERT_NE(player().music().current.stream, nullptr);
    player().automaton().HandleEvent("nonsense");
    ASSERT_TRUE(player().automaton().automatonHalted());
    session->Run(1000);
    EXPECT_FALSE(player().automaton().automatonHalted());
    EXPECT_EQ(log.With("error - the on-hold automaton halted").size(), 1u);
    session->Run(2000);
    // Music again within three seconds of the halt: the restart, its start tick,
    // and the first gap of one second.
    EXPECT_EQ(log.With("status - play music T\\a.wav").size(), 2u);
    EXPECT_NE(player().music().current.stream, nullptr);
    player().automaton().HandleEvent("nonsense");
    session->Run(4000);
    ASSERT_EQ(boxes.boxes().size(), 1u);  // shown once a run
    EXPECT_EQ(boxes.boxes()[0].text, "Playback stopped on an internal error and was restarted.");
    EXPECT_EQ(log.With("status - play music T\\a.wav").size(), 3u);
}

// Music gone for longer than its gap and then some, with a track in schedule:
// playback is restarted once for that silence, and logged.
// A song whose file went away: a restart could not bring it back, so none is
// made; it is said once, and the song plays again as soon as its file is back.
TEST_F(Player, ALongSilenceWithNothingLoadableIsSaidOnceAndHeals) {
    Config(60, 2, {Song("a.wav", 2)}, {});
    Start();
    session->Run(4500);  // a.wav plays from 2 s to 4 s
    ASSERT_EQ(log.With("status - play music T\\a.wav").size(), 1u);
    std::filesystem::remove("sounds/Music Tracks/T/a.wav");
    session->Run(120000);
    EXPECT_TRUE(log.With("error - no music for ").empty());
    EXPECT_EQ(log.With("error - No music can play: the one track in schedule could not be loaded")
                  .size(),
              1u);
    // The status line says it while it lasts (an empty file fails as a missing one).
    EXPECT_NE(view.status.find("No music can play: no track in schedule could be loaded"),
              std::string::npos)
        << view.status;
    Song("a.wav", 2);
    session->Run(10000);
    EXPECT_GE(log.With("status - play music T\\a.wav").size(), 3u);
    EXPECT_TRUE(log.With("Error - Unhandled event").empty());
}

// A restart (Manage Audio's OK, a schedule boundary) 12 s after a message ended:
// the silence before it must not count against the new cycle, whose first message
// comes 10 s after its start.
TEST_F(Player, ARestartStartsTheSilenceCountAfresh) {
    for (bool boundary : {false, true}) {
        SCOPED_TRACE(boundary ? "schedule boundary" : "reload");
        log.lines.clear();
        times.clear();
        // b.wav joins at 09:00:30, which the half-minute schedule check sees at 30 s.
        Config(10, 2,
               {Song("a.wav", 120),
                boundary ? Song("b.wav", 5) + "\nfalse 2008 1 1 2008 1 1 true 9 0 30 23 0 0"
                         : Song("b.wav", 5)},
               {Message("m.wav", 2)});
        Start({2026, 12, 7, 9, 0, 0});
        session->Run(15500);  // the message ends at about 15 s
        ASSERT_EQ(log.With("status - play voice").size(), 1u);
        if (boundary) {
            session->Run(20000);
        } else {
            session->Run(12000);
            player().ReloadConfiguration();
            session->Run(8000);
        }
        session->Run(25000);
        // Messages at 10 s and 24 s into the new cycle (a cut would leave one).
        EXPECT_TRUE(log.With("error - no voice message for").empty());
        EXPECT_EQ(log.With("status - play voice").size(), 3u);
        session.reset();
    }
}

// When no voice file can be read, a restart cannot help: it would only cut the
// song. It is said once, and the song plays on.
TEST_F(Player, UnplayableMessagesNeverCutTheMusic) {
    Config(10, 2, {Song("a.wav", 90)}, {"sounds\\Voice Messages\\V\\gone.wav"});
    Start();
    session->Run(85000);
    EXPECT_TRUE(log.With("error - no voice message for").empty());
    EXPECT_EQ(log.With("status - play music").size(), 1u);
    int said = 0;
    for (const auto& box : boxes.boxes())
        said += box.text.find("No voice message can play: the one track in schedule could not "
                              "be loaded") == 0;
    EXPECT_EQ(said, 1);
}

// The same cycle when sounds are read on the worker thread: the results arrive
// later, and the gap timers wait for them.
TEST_F(Player, PreloadsOnTheWorkerKeepTheCycle) {
    Config(8, 1, {Song("a.wav", 3), Song("b.wav", 3)}, {Message("m.wav", 1)});
    Start({2026, 12, 7, 9, 0, 0}, true);
    for (int step = 0; step < 300; ++step) {
        session->Run(100);
        // Real time for the worker: a read takes a few milliseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto music = log.With("status - play music ");
    ASSERT_GE(music.size(), 4u);
    for (size_t i = 0; i < music.size(); ++i)
        EXPECT_EQ(music[i], i % 2 ? "T\\b.wav" : "T\\a.wav") << i;
    EXPECT_GE(log.With("status - play voice V\\m.wav").size(), 2u);
    EXPECT_TRUE(log.With("Error - Unhandled event").empty());
    // A restart while a read is under way drops its result: the order goes on.
    player().RestartPlayback();
    player().RestartPlayback();
    for (int step = 0; step < 100; ++step) {
        session->Run(100);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_NE(player().music().current.stream, nullptr);
    session.reset();  // the worker stops with the player
}

TEST_F(Player, EmptyListsPlayTheOtherAlone) {
    Config(10, 3, {Song("a.wav", 4)}, {});
    Start();
    session->Run(20000);
    // Songs back to back, 3 s apart. A buffer is as long as its file, so the 4 s
    // song ends just after 6.0 and is seen at 7.0: next at 10.0, then 18.0.
    EXPECT_EQ(When("status - play music T\\a.wav"), 2000);
    EXPECT_EQ(When("status - play music T\\a.wav", 1), 10000);
    EXPECT_EQ(When("status - play music T\\a.wav", 2), 18000);
    EXPECT_FALSE(session->timers().IsRunning(kTimerVoiceGap));
    session.reset();
    log.lines.clear();
    times.clear();
    std::filesystem::remove("audio.cfg");
    Config(20, 3, {}, {Message("m.wav", 2)});
    Start();
    session->Run(50000);
    EXPECT_EQ(When("status - play voice V\\m.wav"), 21000);
    EXPECT_EQ(When("status - play voice V\\m.wav", 1), 44000);  // 20 s after its end at 24
    EXPECT_TRUE(log.With("error").empty());
}

TEST_F(Player, PauseInAFadeDownAndResume) {
    Config(10, 2, {Song("a.wav", 60)}, {Message("m.wav", 3)});
    Start();
    session->Run(12000);  // fade-down began at 11.0
    ASSERT_EQ(player().automaton().StateName(), "dwnctn_vocsil");
    const int level = player().music().current.buffer->GetVolume();
    EXPECT_LT(level, -500);
    EXPECT_GT(level, -1500);
    player().TogglePlayback();
    EXPECT_EQ(view.title, "Tonewell v1.0 (paused)");
    EXPECT_TRUE(view.playEnabled);
    uint32_t before = 0, after = 0;
    player().music().current.buffer->GetCurrentPosition(&before);
    session->Run(10000);
    player().music().current.buffer->GetCurrentPosition(&after);
    EXPECT_EQ(before, after);  // halted where it was
    EXPECT_EQ(player().music().current.buffer->GetVolume(), level);
    player().TogglePlayback();
    EXPECT_EQ(view.title, "Tonewell v1.0");
    EXPECT_TRUE(view.pauseEnabled);
    session->Run(500);
    const int later = player().music().current.buffer->GetVolume();
    EXPECT_LT(later, level);  // the fade goes on from where it stopped
    EXPECT_GT(later, -1500);
    session->Run(2000);
    EXPECT_EQ(player().automaton().StateName(), "mussft_vocctn");
}

TEST_F(Player, TrackJoinsWhenItsTimeRangeOpens) {
    const std::string lunch = Song("lunch.wav", 30);
    Config(60, 2, {Song("a.wav", 100), lunch + "\nfalse 2008 1 1 2008 1 1 true 12 0 20 13 0 0"},
           {});
    Start({2026, 12, 7, 12, 0, 0});
    EXPECT_EQ(view.musicList, (std::vector<std::string>{"T\\a.wav"}));
    session->Run(29500);
    EXPECT_EQ(log.With("status - play music").size(), 1u);
    session->Run(3000);  // the 30th tick at 30.0 sees the change
    EXPECT_EQ(view.musicList, (std::vector<std::string>{"T\\a.wav", "T\\lunch.wav"}));
    EXPECT_EQ(When("FSA - Entering state: mussil_vocsil", 1), 31000);
    EXPECT_EQ(When("status - play music T\\lunch.wav"), 32000);
}

TEST_F(Player, StatusLineSaysWhatPlaysWhatComesNextAndWhyNothingPlays) {
    const std::string late = Song("late.wav", 5);
    Config(20, 1, {Song("a.wav", 100)}, {Message("m.wav", 2), Message("gone.wav", 2)});
    std::filesystem::remove("sounds/Voice Messages/V/gone.wav");
    Start();
    session->Run(5000);
    EXPECT_EQ(view.status, "Playing T\\a.wav  \u00b7  Next message in 0:17");
    session->Run(19500);  // the fade (2.1 s) and the message playing
    // Playing it preloaded the next message, the missing one: marked and counted.
    // The warning first: a line cut short never hides it.
    EXPECT_EQ(view.status, "1 track could not be loaded: see the list  \u00b7  Playing T\\a.wav  \u00b7  "
                           "Message V\\m.wav");
    EXPECT_EQ(view.voiceProblems.size(), 1u);
    EXPECT_EQ(view.voiceProblems["V\\gone.wav"],
              "Unable to locate file (sounds\\Voice Messages\\V\\gone.wav)");
    EXPECT_EQ(view.voiceRows.back(), 0);
    session->Run(3500);  // ended: no longer selected
    EXPECT_EQ(view.voiceRows.back(), -1);
    // Back in place, it loads and loses its mark.
    Message("gone.wav", 2);
    session->Run(60000);
    EXPECT_TRUE(view.voiceProblems.empty());
    EXPECT_EQ(view.status.find("could not be loaded"), std::string::npos) << view.status;
    player().TogglePlayback();
    EXPECT_EQ(view.status, "Paused");
    session.reset();

    // Nothing in schedule now: when it next is, today or later.
    Config(60, 2, {late + "\nfalse 2008 1 1 2008 1 1 true 8 0 0 9 0 0"}, {});
    Start({2026, 12, 7, 6, 30, 0});
    session->Run(2000);
    EXPECT_EQ(view.status, "No music track is in schedule until 08:00  \u00b7  No voice messages: "
                           "add some with Manage Audio");
    session.reset();
    Config(60, 2, {late + "\ntrue 2008 12 24 2008 12 24 false 0 0 0 0 0 0"}, {});
    Start({2026, 12, 7, 6, 30, 0});
    session->Run(2000);
    EXPECT_EQ(view.status.substr(0, 50), "No music track is in schedule until 24 December 00");
}

TEST_F(Player, StartDecidesWhatIsInSchedule) {
    Config(60, 2, {Song("a.wav", 5) + "\nfalse 2008 1 1 2008 1 1 true 12 0 0 13 0 0"}, {});
    Start({2026, 12, 7, 8, 0, 0});
    session->Run(5000);
    EXPECT_TRUE(view.musicList.empty());
    EXPECT_TRUE(log.With("status - play music").empty());
}

TEST_F(Player, ProgressAndRowsReachTheView) {
    Config(60, 2, {Song("a.wav", 4), Song("b.wav", 4)}, {});
    Start();
    EXPECT_EQ(view.musicList, (std::vector<std::string>{"T\\a.wav", "T\\b.wav"}));
    session->Run(16000);
    // a.wav was preloaded before the listing; the listing consumed the next a.wav,
    // so b.wav follows: rows 0, then 1.
    EXPECT_EQ(log.With("status - play music ")[0], "T\\a.wav");
    EXPECT_EQ(log.With("status - play music ")[1], "T\\b.wav");
    ASSERT_GE(view.musicRows.size(), 2u);
    EXPECT_EQ(view.musicRows[0], 0);
    EXPECT_EQ(view.musicRows[1], 1);
    // 4 s songs seen at each tick: 25, 50, 75 percent (of the file, header included).
    std::vector<int> p(view.musicProgress.begin(), view.musicProgress.begin() + 4);
    EXPECT_NEAR(p[0], 24, 1);
    EXPECT_NEAR(p[1], 49, 1);
    EXPECT_NEAR(p[2], 74, 1);
}

TEST_F(Player, SliderSetsTheLevelAtOnceOnlyWhileTheSongIsAtFullLevel) {
    Config(10, 2, {Song("a.wav", 60)}, {Message("m.wav", 3)});
    Start();
    session->Run(5000);
    player().OnVolumeSlider(true, 7);
    EXPECT_EQ(player().music().current.buffer->GetVolume(), -900);
    EXPECT_NE(test::ReadText("audio.cfg").find("[MUSIC]\n2\n7\n"), std::string::npos);
    session->Run(9000);  // under the message now
    ASSERT_EQ(player().automaton().StateName(), "mussft_vocctn");
    player().OnVolumeSlider(true, 10);
    EXPECT_EQ(player().music().current.buffer->GetVolume(), ComputeChannelLevel(7, -1500));
    player().OnVolumeSlider(false, 5);
    EXPECT_EQ(player().voice().current.buffer->GetVolume(), -1500);
}

TEST_F(Player, FirstRunNoticeOnceAndPausedStart) {
    test::WriteText(
        "default.cfg",
        "[VOICE]\n10\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n.\n\n[VOICE_LIST]\n.\n\n");
    AppSettings s;
    s.startPlaying = 0;
    s.SaveSettings();
    session =
        std::make_unique<VirtualSession>(LocalTime{2026, 1, 1, 0, 0, 0}, boxes, view, 44100, false);
    player().Initialise();
    EXPECT_FALSE(view.manageEnabled);
    EXPECT_EQ(view.title, "Tonewell v1.0 (paused)");
    EXPECT_TRUE(view.playEnabled);
    EXPECT_FALSE(view.pauseEnabled);
    EXPECT_TRUE(player().neverStarted());
    EXPECT_FALSE(player().CloseNeedsConfirmation());
    session->Run(3500);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Tonewell");
    EXPECT_TRUE(view.manageEnabled);
    EXPECT_FALSE(session->timers().IsRunning(kTimerStart));
    player().TogglePlayback();
    EXPECT_TRUE(player().isPlaying());
    EXPECT_TRUE(session->timers().IsRunning(kTimerStart));
}

}  // namespace

namespace {

TEST_F(Player, UnknownOutputGivesTwoBoxesAndPlaysNothing) {
    Config(10, 2, {Song("a.wav", 5)}, {});
    AppSettings s;
    s.device.fill(0x5A);  // an output that is not there
    ASSERT_TRUE(s.SaveSettings());
    SystemClock clock;
    VirtualClock virtualClock;
    VirtualTimerService timers(virtualClock);
    OnHoldPlayer::Options options;
    options.output = OutputMode::Device;
    OnHoldPlayer player(clock, timers, boxes, view, options);
    player.Initialise();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "DirectSound could not initialize!");
    EXPECT_EQ(boxes.boxes()[0].caption, "Tonewell");
    EXPECT_EQ(boxes.boxes()[1].text, "DSERR_NODRIVER");
    EXPECT_EQ(boxes.boxes()[1].caption, "DirectSound Error");
    EXPECT_EQ(player.device(), nullptr);
    EXPECT_EQ(player.music().next.stream, nullptr);
    timers.Advance(10000);  // the gap timer keeps trying, and nothing breaks
    EXPECT_EQ(player.music().current.stream, nullptr);
}

}  // namespace

TEST_F(Player, AnHourLongMp3StreamsAndASongCutShortEndsWhereTheFileNowEnds) {
    // An hour of MP3 in a few MB: one minute of 8 kbit/s frames, sixty times over.
    test::WriteTone("minute.wav", 60, 440, 8000, 1, 0.5);
    ASSERT_EQ(std::system("lame --quiet -t -b 8 minute.wav minute.mp3"), 0);
    std::string hour;
    const std::string minute = test::ReadText("minute.mp3");
    for (int i = 0; i < 60; ++i) hour += minute;
    test::WriteText("sounds/Music Tracks/T/hour.mp3", hour);
    Config(600, 2, {"sounds\\Music Tracks\\T\\hour.mp3", Song("b.wav", 2)}, {});
    Start();
    std::vector<float> last;
    session->Run(40000, [&](const float* s, int n) { last.assign(s, s + 2 * n); });
    // Its length is known from the first note: sixty times the minute as mpg123
    // decodes it, and 1% of it has played (the cursor runs ahead of what is heard by
    // what the resampler holds).
    EXPECT_EQ(When("status - play music T\\hour.mp3"), 2000);
    const SoundSlot& hourSlot = player().music().current;
    ASSERT_NE(hourSlot.buffer, nullptr);
    ASSERT_EQ(std::system("mpg123 -q -w peer.wav minute.mp3"), 0);
    std::vector<float> pcm;
    int channels = 0, rate = 0;
    ASSERT_TRUE(test::ReadWav16("peer.wav", pcm, channels, rate));
    EXPECT_EQ(hourSlot.byteLength, 44 + 60 * 2 * pcm.size());
    EXPECT_NEAR(static_cast<double>(hourSlot.buffer->Position()), 38.0 * 8000 * 2, 8000 * 2 * 0.25);
    EXPECT_EQ(view.musicProgress.back(), 1);
    float peak = 0;
    for (float v : last) peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 0.1f);

    // A song cut short while it plays ends where the file now ends, and the next one
    // follows.
    session.reset();
    Config(600, 2, {Song("a.wav", 20), "sounds\\Music Tracks\\T\\b.wav"}, {});
    Start();
    session->Run(5000);
    std::filesystem::resize_file("sounds/Music Tracks/T/a.wav", 44 + 10 * 44100 * 4);
    session->Run(12000);
    EXPECT_TRUE(log.Has("error - sounds\\Music Tracks\\T\\a.wav: the file ends before its samples "
                        "do; the sound ends there, 10.0 s into it"));
    const int64_t ended = When("status - music track finished");
    // 10 s of it from 2 s on, seen at the next tick; not the 20 s it first had.
    EXPECT_GE(ended, 12000);
    EXPECT_LE(ended, 13000);
    EXPECT_GT(When("status - play music T\\b.wav"), ended);
}
