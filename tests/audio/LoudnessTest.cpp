#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "AtomicFile.h"
#include "LogCapture.h"
#include "Loudness.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;

namespace {

class Loudness : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::filesystem::create_directories("sounds/Music Tracks/T");
    }
    // A 1 kHz tone; its stored name.
    static std::string Tone(const std::string& name, double seconds, double amplitude) {
        test::WriteTone("sounds/Music Tracks/T/" + name, seconds, 1000, 44100, 2, amplitude);
        return "sounds\\Music Tracks\\T\\" + name;
    }
};

}  // namespace

TEST_F(Loudness, GainsStayWithinTheLimits) {
    // To the target, but at most +12 dB, never past 0 dBTP, nothing for silence.
    EXPECT_EQ(LevellingGain({-26, -10}, -20), 600);
    EXPECT_EQ(LevellingGain({-14, -1}, -20), -600);
    EXPECT_EQ(LevellingGain({-40, -30}, -20), 1200);
    EXPECT_EQ(LevellingGain({-40, -3}, -20), 300);
    EXPECT_EQ(LevellingGain({-HUGE_VAL, -200}, -20), 0);
    EXPECT_EQ(LevellingGain({NAN, 0}, -20), 0);
}

TEST_F(Loudness, MeasuresTonesOnceAndRemeasuresAChangedFile) {
    const std::string loud = Tone("loud.wav", 3, 0.5), quiet = Tone("quiet.wav", 3, 0.125);
    LoudnessFigures a, b;
    ASSERT_TRUE(MeasureLoudness(loud, a));
    ASSERT_TRUE(MeasureLoudness(quiet, b));
    EXPECT_NEAR(a.lufs - b.lufs, 12.04, 0.1);
    EXPECT_NEAR(a.peakDb, -6.0, 0.3);

    int loudGain = 0, quietGain = 0;
    {
        Leveller leveller({true, -20, -16});
        loudGain = leveller.GainFor(loud, true);
        quietGain = leveller.GainFor(quiet, true);
        EXPECT_NEAR((a.lufs + loudGain / 100.0) - (b.lufs + quietGain / 100.0), 0, 0.05);
        EXPECT_EQ(leveller.measurements(), 2);
        // The second figure waits: the cache is written at most every 5 seconds.
        std::string cache;
        ASSERT_TRUE(ReadWholeFile("loudness.cache", cache));
        EXPECT_EQ(cache.find("quiet.wav"), std::string::npos) << cache;
    }
    // A new run reads the cache; a changed file is measured again.
    Leveller again({true, -20, -16});
    EXPECT_EQ(again.GainFor(loud, true), loudGain);
    EXPECT_EQ(again.GainFor(quiet, true), quietGain);
    EXPECT_EQ(again.measurements(), 0);
    Tone("quiet.wav", 4, 0.25);
    EXPECT_NE(again.GainFor(quiet, true), quietGain);
    EXPECT_EQ(again.measurements(), 1);
    // Sounds that are gone leave the cache when it is next saved.
    std::filesystem::remove("sounds/Music Tracks/T/loud.wav");
    Tone("other.wav", 1, 0.5);
    {
        Leveller pruned({true, -20, -16});
        pruned.GainFor("sounds\\Music Tracks\\T\\other.wav", true);
    }
    std::string cache;
    ASSERT_TRUE(ReadWholeFile("loudness.cache", cache));
    EXPECT_EQ(cache.find("loud.wav"), std::string::npos) << cache;
    EXPECT_NE(cache.find("quiet.wav"), std::string::npos);
    EXPECT_NE(cache.find("other.wav"), std::string::npos);
    // Off: no gain, nothing measured.
    Leveller off({false, -20, -16});
    EXPECT_EQ(off.GainFor(quiet, true), 0);
    EXPECT_EQ(off.measurements(), 0);
}

TEST_F(Loudness, SilenceShortSoundsAndAForeignCacheGetNoStrangeGain) {
    const std::string silent = Tone("silent.wav", 2, 0.0), blip = Tone("blip.wav", 0.1, 0.5);
    Leveller leveller({true, -20, -16});
    EXPECT_EQ(leveller.GainFor(silent, true), 0);
    // 0.1 s is shorter than one 400 ms block: no loudness, so no gain, and no crash.
    EXPECT_EQ(leveller.GainFor(blip, true), 0);

    // A cache claiming absurd figures for the file as it is: not believed.
    const std::string loud = Tone("loud.wav", 3, 0.5);
    const auto size = std::filesystem::file_size("sounds/Music Tracks/T/loud.wav");
    LoudnessFigures real;
    ASSERT_TRUE(MeasureLoudness(loud, real));
    test::LogCapture log;
    for (const std::string& text : {std::string("not a cache at all\n"),
                                    std::string("tonewell loudness cache 1\n-900 -900 ") +
                                        std::to_string(size) + " 0 " + loud + "\ngarbage\n"}) {
        test::WriteText(kLoudnessCache, text);
        Leveller fresh({true, -20, -16});
        EXPECT_EQ(fresh.GainFor(loud, true), LevellingGain(real, -20));
        EXPECT_EQ(fresh.measurements(), 1);
    }
    EXPECT_EQ(test::ReadText(kLoudnessCache).rfind("tonewell loudness cache 1\n", 0), 0u);
}
