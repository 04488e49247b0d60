#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "AudioConfig.h"
#include "ConfigTextReader.h"
#include "LogCapture.h"
#include "TonewellConf.h"
#include "TempFolder.h"

using namespace tw;

namespace {

const char* kExample =
    "[VOICE]\n30\n10\n0\n\n"
    "[MUSIC]\n2\n7\n1\n\n"
    "[MUSIC_LIST]\n"
    "sounds\\Music Tracks\\Jazz\\Blue Evening.mp3\n"
    "false 2008 5 14 2008 5 14 false 10 12 40 10 12 40\n"
    ".\n\n"
    "[VOICE_LIST]\n"
    "sounds\\Voice Messages\\Custom\\Holiday hours.wav\n"
    "true 2008 12 1 2008 12 31 true 8 0 0 18 0 0\n"
    ".\n\n";

class Config : public test::TempFolderTest {
  protected:
    VirtualClock clock{{2026, 12, 7, 12, 0, 0}};
    RecordingMessageBox boxes;
    AudioConfig config{clock, boxes};
};

TEST_F(Config, LoadsTheExampleAndSavesItByteForByte) {
    test::WriteText("audio.cfg", kExample);
    config.Load();
    EXPECT_FALSE(config.firstRun);
    EXPECT_EQ(config.voice.gapSeconds, 30);
    EXPECT_EQ(config.voice.volume, 10);
    EXPECT_EQ(config.music.gapSeconds, 2);
    EXPECT_EQ(config.music.volume, 7);
    EXPECT_EQ(config.music.random, 1);
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\Jazz\\Blue Evening.mp3");
    ASSERT_EQ(config.voice.tracks.size(), 1u);
    const TrackSchedule& s = config.voice.tracks[0].schedule;
    EXPECT_TRUE(s.dateRangeOn && s.timeRangeOn);
    EXPECT_EQ(s.dateTo, DateOrTime(2008, 12, 31));
    EXPECT_EQ(s.timeFrom, DateOrTime(8, 0, 0));
    EXPECT_TRUE(config.voice.tracks[0].inSchedule);
    EXPECT_EQ(config.music.order.size(), 1u);
    EXPECT_TRUE(boxes.boxes().empty());

    std::filesystem::remove("audio.cfg");
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(test::ReadText("audio.cfg"), kExample);
}

TEST_F(Config, LineEndsBlankLinesAndCaseOfTrue) {
    std::string crlf;
    for (char c : std::string(kExample))
        crlf += c == '\n' ? std::string("\r\n\n") : std::string(1, c);
    std::string cr;
    for (char c : std::string(kExample)) cr += c == '\n' ? '\r' : c;
    for (const std::string& text : {crlf, cr}) {
        test::WriteText("audio.cfg", text);
        config.Load();
        EXPECT_EQ(config.SaveText(), kExample);
    }
    std::string capital = kExample;
    capital.replace(capital.find("true 2008"), 4, "True");
    test::WriteText("audio.cfg", capital);
    config.Load();
    EXPECT_FALSE(config.voice.tracks[0].schedule.dateRangeOn);
    EXPECT_TRUE(config.voice.tracks[0].schedule.timeRangeOn);
}

TEST_F(Config, FirstRunCopiesDefaultOnceAndMissingBothShowsTheBox) {
    test::WriteText("default.cfg", kExample);
    config.Load();
    EXPECT_TRUE(config.firstRun);
    EXPECT_EQ(test::ReadText("audio.cfg"), kExample);
    EXPECT_EQ(config.music.tracks.size(), 1u);

    AudioConfig again(clock, boxes);
    test::WriteText("default.cfg", "[VOICE]\n10\n");
    again.Load();
    EXPECT_FALSE(again.firstRun);  // default.cfg is not consulted
    EXPECT_EQ(again.music.tracks.size(), 1u);

    std::filesystem::remove("audio.cfg");
    std::filesystem::remove("default.cfg");
    AudioConfig none(clock, boxes);
    none.Load();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "File audio.cfg not found");
    EXPECT_EQ(boxes.boxes()[0].caption, "Error");
    EXPECT_FALSE(none.music.HasTracks());
    std::string name;
    int pass;
    EXPECT_FALSE(none.voice.NextTrack(name, pass));
}

TEST_F(Config, EmptyListsAndAFailedSaveKeepTheOldFile) {
    test::WriteText(
        "audio.cfg",
        "[VOICE]\n20\n5\n1\n\n[MUSIC]\n3\n4\n0\n\n[MUSIC_LIST]\n.\n\n[VOICE_LIST]\n.\n\n");
    config.Load();
    EXPECT_FALSE(config.music.HasTracks() || config.voice.HasTracks());
    EXPECT_EQ(config.voice.gapSeconds, 20);
    EXPECT_EQ(config.music.volume, 4);
    const std::string before = test::ReadText("audio.cfg");

    std::filesystem::create_directory("audio.cfg.tmp");  // blocks the temporary file
    test::LogCapture log;
    config.SetVolumeAndSave(true, 9);
    EXPECT_EQ(config.music.volume, 9);
    EXPECT_EQ(test::ReadText("audio.cfg"), before);
    EXPECT_FALSE(log.With("error - cannot write audio.cfg").empty());
}

TEST_F(Config, HandEditedAndBrokenFilesNeverCrash) {
    const std::string longName = "sounds\\Music Tracks\\C\\" + std::string(300, 'n') + ".wav";
    std::mt19937 rng(7);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    struct Case {
        std::string text;
        size_t music, voice;  // SIZE_MAX: any count
    } cases[] = {
        {"", 0, 0},
        {noise, SIZE_MAX, SIZE_MAX},
        {std::string(10 * 1024 * 1024, 'x'), 0, 0},
        // ends before the music list's "."
        {"[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\nsounds\\Music Tracks\\C\\a.wav\n",
         1, 0},
        // short schedule line, and a settings line that is not a number
        {"[VOICE]\nthirty\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\nsounds\\Music "
         "Tracks\\C\\a.wav\ntrue 2008 3\n.\n[VOICE_LIST]\n.\n",
         1, 0},
        {"[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\n" + longName +
             "\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\nsounds\\Music Tracks\\C\\b.wav\n"
             "false 1 1 1 1 1 1 false 0 0 0 0 0 0\n.\n[VOICE_LIST]\n.\n",
         1, 0},
    };
    for (const Case& c : cases) {
        test::WriteText("audio.cfg", c.text);
        config.voice.gapSeconds = 55;
        config.Load();
        if (c.music != SIZE_MAX) {
            EXPECT_EQ(config.music.tracks.size(), c.music);
        }
        if (c.text.empty()) {
            EXPECT_EQ(config.voice.gapSeconds, 55);
        }
    }
    // A zero byte in one track's line (a name pasted with one) leaves that track out
    // and reads both lists on, never an empty list from one bad line.
    const std::string sched = "\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\n";
    test::WriteText("audio.cfg", "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\n"
                                 "sounds\\Music Tracks\\C\\a.wav" + sched +
                                 std::string("sounds\\Music Tracks\\C\\b\0x.wav", 29) + sched +
                                 "sounds\\Music Tracks\\C\\c.wav" + sched +
                                 ".\n[VOICE_LIST]\nsounds\\Voice Messages\\V\\m.wav" + sched + ".\n");
    config.Load();
    ASSERT_EQ(config.music.tracks.size(), 2u);
    EXPECT_EQ(config.music.tracks[1].name, "sounds\\Music Tracks\\C\\c.wav");
    EXPECT_EQ(config.voice.tracks.size(), 1u);
    EXPECT_NE(AudioConfig::CheckText(test::ReadText("audio.cfg")).find(": a zero byte"),
              std::string::npos);

    // The short schedule line: given fields are read, the rest are those of a new schedule.
    test::WriteText("audio.cfg", cases[4].text);
    config.voice.gapSeconds = 55;
    config.Load();
    EXPECT_EQ(config.voice.gapSeconds, 55);  // "thirty" kept the previous value
    const TrackSchedule& s = config.music.tracks[0].schedule;
    EXPECT_TRUE(s.dateRangeOn);
    EXPECT_EQ(s.dateFrom, DateOrTime(2008, 3, 7));  // day from today
    EXPECT_FALSE(s.timeRangeOn);
    // The over-long name is left out whole (cut short it would name another file),
    // with a box, and the rest of the file reads on.
    test::WriteText("audio.cfg", cases[5].text);
    boxes.Clear();
    config.Load();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_NE(boxes.boxes()[0].text.find("longer than 255 bytes"), std::string::npos);
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\C\\b.wav");
    EXPECT_EQ(config.music.tracks[0].schedule.dateFrom, DateOrTime(1, 1, 1));
}

// A name of 256 bytes whose last character takes two: cutting at 255 bytes would
// leave half a character. It is refused whole, and so is any name over 255 bytes.
TEST_F(Config, LongNamesAreRefusedWholeNeverCutInACharacter) {
    const std::string prefix = "sounds\\Music Tracks\\C\\";
    const std::string split = prefix + std::string(255 - prefix.size() - 1, 'n') + "\xC3\xA9";
    ASSERT_EQ(split.size(), 256u);
    const std::string fits = prefix + std::string(255 - prefix.size() - 2, 'n') + "\xC3\xA9";
    ASSERT_EQ(fits.size(), 255u);
    test::WriteText("audio.cfg", "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\n" +
                                     split + "\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\n" + fits +
                                     "\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\n.\n[VOICE_LIST]\n.\n");
    config.Load();
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, fits);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    // The box shows the part that was read, whole characters only.
    const std::string& text = boxes.boxes()[0].text;
    EXPECT_NE(text.find(prefix + std::string(255 - prefix.size() - 1, 'n') + "..."),
              std::string::npos);

    ConfigTextReader reader;
    reader.SetText(std::string(254, 'a') + "\xE2\x82\xAC" + "b\nnext\n");  // a 3-byte euro sign
    EXPECT_EQ(reader.ReadLine(), std::string(254, 'a'));
    EXPECT_TRUE(reader.LastLineWasCut());
    reader.NextLine();
    EXPECT_EQ(reader.ReadLine(), "next");
    EXPECT_FALSE(reader.LastLineWasCut());
}

// A hand-edited file whose last music track lost its schedule line: the "." still
// ends the music list, and the voice list is read (and saved) as it was.
TEST_F(Config, ALostScheduleLineNeverSwallowsTheVoiceList) {
    test::WriteText("audio.cfg",
                    "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n7\n0\n\n[MUSIC_LIST]\n"
                    "sounds\\Music Tracks\\C\\a.wav\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\n"
                    "sounds\\Music Tracks\\C\\b.wav\n.\n\n[VOICE_LIST]\n"
                    "sounds\\Voice Messages\\V\\m.wav\nfalse 1 1 1 1 1 1 false 0 0 0 0 0 0\n.\n");
    test::LogCapture log;
    config.Load();
    ASSERT_EQ(config.music.tracks.size(), 2u);
    EXPECT_EQ(config.music.tracks[1].name, "sounds\\Music Tracks\\C\\b.wav");
    EXPECT_FALSE(config.music.tracks[1].schedule.HasAnyRange());
    ASSERT_EQ(config.voice.tracks.size(), 1u);
    EXPECT_EQ(config.voice.tracks[0].name, "sounds\\Voice Messages\\V\\m.wav");
    EXPECT_TRUE(log.Has("error - track without a schedule line (sounds\\Music Tracks\\C\\b.wav)"));
    // A slider move saves both lists.
    ASSERT_TRUE(config.SetVolumeAndSave(true, 5));
    EXPECT_NE(test::ReadText("audio.cfg").find("[VOICE_LIST]\nsounds\\Voice Messages\\V\\m.wav\n"),
              std::string::npos);
}

// With neither file, a slider writes nothing: a "default.cfg" restored later is
// still copied on the next start. The gaps meanwhile are not 0.
TEST_F(Config, AConfigurationNeverReadIsNeverWrittenOver) {
    config.Load();
    EXPECT_FALSE(config.loaded);
    EXPECT_EQ(config.voice.GapSeconds(), 30);
    EXPECT_EQ(config.music.GapSeconds(), 2);
    EXPECT_TRUE(config.SetVolumeAndSave(true, 3));
    EXPECT_EQ(config.music.volume, 3);
    EXPECT_FALSE(std::filesystem::exists("audio.cfg"));
    test::WriteText("default.cfg", kExample);
    config.Load();
    EXPECT_TRUE(config.firstRun);
    EXPECT_EQ(test::ReadText("audio.cfg"), kExample);
}

// The first-run copy goes through a temporary file and a rename; when it cannot be
// made, nothing half-written is left, the defaults are read as they are, and it
// is not taken for a first run.
TEST_F(Config, AFailedFirstRunCopyLeavesNoFileAndReadsTheDefaults) {
    test::WriteText("default.cfg", kExample);
    std::filesystem::create_directory("audio.cfg.tmp");  // blocks the temporary file
    config.Load();
    EXPECT_FALSE(std::filesystem::exists("audio.cfg"));
    EXPECT_FALSE(config.firstRun);
    EXPECT_FALSE(config.copyProblem.empty());
    EXPECT_TRUE(config.loaded);
    EXPECT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.voice.tracks.size(), 1u);
    EXPECT_TRUE(boxes.boxes().empty());  // the player says it, once, with the folder's name
}

TEST_F(Config, CopyIsDeepWithFreshPositions) {
    test::WriteText("audio.cfg", kExample);
    config.Load();
    std::string name;
    int pass;
    config.music.NextTrack(name, pass);
    AudioConfig copy(config);
    // It knows the file it came from: its saves are saves of that file.
    EXPECT_TRUE(copy.loaded);
    EXPECT_EQ(copy.loadedText, kExample);
    EXPECT_TRUE(copy.music.order.empty());
    EXPECT_EQ(copy.music.position, 0);
    copy.music.tracks[0].name = "changed";
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\Jazz\\Blue Evening.mp3");
    EXPECT_EQ(copy.SaveText().find("changed") != std::string::npos, true);
}

TEST_F(Config, PlaylistListsExactlyTheTracksInScheduleEscaped) {
    config.Load();  // nothing there: two empty lists
    boxes.Clear();
    ASSERT_TRUE(config.ExportPlaylist());
    EXPECT_EQ(test::ReadText("playlist.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<?xml-stylesheet type=\"text/xsl\" href=\"htm/playlist.xsl\"?>\n"
              "<playlist>\n<voice>\n</voice>\n<music>\n</music>\n</playlist>\n");

    TrackSchedule never;
    never.timeRangeOn = true;
    never.timeFrom = {1, 0, 0};
    never.timeTo = {2, 0, 0};
    config.music.AddTrack("sounds\\Music Tracks\\Jazz\\Off hours.wav", never);
    config.music.AddTrack("sounds\\Music Tracks\\R&B\\<Soul> \"live\".mp3", TrackSchedule{});
    config.voice.AddTrack("sounds\\Voice Messages\\Custom\\Holiday hours.wav", TrackSchedule{});
    config.music.SetRandom(1);
    ASSERT_TRUE(config.ExportPlaylist());
    EXPECT_EQ(test::ReadText("playlist.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<?xml-stylesheet type=\"text/xsl\" href=\"htm/playlist.xsl\"?>\n"
              "<playlist>\n<voice>\n"
              "<track><cat>Custom</cat><name>Holiday hours.wav</name></track>\n"
              "</voice>\n<music order=\"random\">\n"
              "<track><cat>R&amp;B</cat><name>&lt;Soul&gt; &quot;live&quot;.mp3</name></track>\n"
              "</music>\n</playlist>\n");
}

}  // namespace

// tonewell.conf may hold a stream password: a new file is private and a save keeps
// a file's mode; a huge or hostile file is read in its first 64 KB and said in a
// few lines.
class TonewellConfFile : public test::TempFolderTest {};

TEST_F(TonewellConfFile, PrivateWhenNewKeepsItsModeAndIsReadWithinBounds) {
    namespace fs = std::filesystem;
    std::string why;
    ASSERT_TRUE(SetTonewellConfValue("loudness", "on", &why)) << why;
    EXPECT_EQ(fs::status("tonewell.conf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    test::WriteText("tonewell.conf", "stream-url = icecast://source:pw@h/moh\n");
    fs::permissions("tonewell.conf", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(SetTonewellConfValue("loudness", "off", &why));
    EXPECT_EQ(fs::status("tonewell.conf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions("tonewell.conf", fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(SetTonewellConfValue("loudness", "on", &why));
    EXPECT_EQ(fs::status("tonewell.conf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    std::string junk = "rate = 16000\n";
    while (junk.size() < 4'000'000) junk += "this is not a setting at all\n";
    junk += "channels = 2\n";
    test::WriteText("tonewell.conf", junk);
    TonewellConf conf;
    ASSERT_TRUE(conf.Load());
    EXPECT_EQ(conf.Get("rate"), "16000");
    EXPECT_EQ(conf.Get("channels"), "");  // past the first 64 KB
    ASSERT_EQ(conf.problems.size(), 12u);
    EXPECT_EQ(conf.problems[0], "tonewell.conf is longer than 64 KB; only its first 64 KB are read");
    EXPECT_EQ(conf.problems[1], "tonewell.conf line 2: not a \"key = value\" line; skipped");
    EXPECT_NE(conf.problems[11].find(" more lines skipped"), std::string::npos);
    EXPECT_EQ(conf.Where("rate"), "tonewell.conf line 1");
}
