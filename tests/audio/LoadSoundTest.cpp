#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "LoadSound.h"
#include "LogCapture.h"
#include "SoundSource.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

class Loading : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Direct, device, 44100), DS_OK);
    }
    bool Load(const std::string& path) {
        return LoadSound(buffer, data, path, size, device.get(), boxes);
    }
    // What the buffer plays, as 16-bit samples of its left channel (or mono).
    std::vector<float> Played(int frames) {
        std::vector<float> out(2 * static_cast<size_t>(frames));
        buffer->Play();
        device->mixer().Render(out.data(), frames);
        buffer->Stop();
        std::vector<float> left;
        for (int i = 0; i < frames; ++i) left.push_back(out[2 * i]);
        return left;
    }
    std::string LastBox() const { return boxes.boxes().empty() ? "" : boxes.boxes().back().text; }
    std::unique_ptr<SoundDevice> device;
    std::unique_ptr<SoundBuffer> buffer;
    std::shared_ptr<SoundStream> data;
    uint32_t size = 0;
    RecordingMessageBox boxes;
};

TEST_F(Loading, CanonicalWavFillsDataAndBuffer) {
    test::WavSpec spec{1, 2, 44100, 16};
    const auto samples = test::SineSamples(spec, 440, 0.5, 1000);
    const std::string file = test::MakeWav(spec, samples);
    fs::create_directories("sounds/Music Tracks/Jazz");
    test::WriteBinary("sounds/Music Tracks/Jazz/Blue Evening.wav", file);
    ASSERT_TRUE(Load("sounds\\Music Tracks\\Jazz\\Blue Evening.wav"));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(size, file.size());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->size(), file.size());
    EXPECT_EQ(buffer->format().channels, 2);
    EXPECT_EQ(buffer->format().samplesPerSec, 44100u);
    EXPECT_EQ(buffer->format().blockAlign(), 4);
    // It plays the samples, then the buffer's tail (the header's length, 11 frames) in
    // silence, and ends.
    const auto played = Played(1020);
    for (int i = 0; i < 1000; ++i) {
        const int16_t v = static_cast<int16_t>(samples[4 * i] | (samples[4 * i + 1] << 8));
        ASSERT_EQ(played[i], v / 32768.0f) << i;
    }
    for (int i = 1000; i < 1020; ++i) EXPECT_EQ(played[i], 0.0f);
    EXPECT_TRUE(buffer->HasFinished());
}

TEST_F(Loading, ChunksBeforeTheDataAnd18ByteFormatAndFloat) {
    test::WavSpec spec{1, 1, 44100, 8};
    const auto samples = test::SineSamples(spec, 300, 0.8, 801);  // odd size: pad byte
    std::string list =
        std::string("LIST") + std::string("\x05\0\0\0", 4) + "INFOx" + std::string(1, '\0');
    test::WriteBinary(
        "a.wav",
        test::MakeWav(spec, samples, list + "fact" + std::string("\x04\0\0\0", 4) + "abcd", 2));
    ASSERT_TRUE(Load("a.wav"));
    EXPECT_EQ(buffer->format().blockAlign(), 1);
    const auto played = Played(900);
    for (int i = 0; i < 801; ++i) ASSERT_EQ(played[i], (samples[i] - 128) / 128.0f) << i;
    for (int i = 801; i < 900; ++i) EXPECT_EQ(played[i], 0.0f);  // silence, not 0x00

    test::WavSpec fl{3, 2, 48000, 32};
    const auto fsamples = test::SineSamples(fl, 300, 0.5, 100);
    test::WriteBinary("Float.WAV", test::MakeWav(fl, fsamples));
    ASSERT_TRUE(Load("Float.WAV"));  // opened with its capitals
    EXPECT_EQ(buffer->format().formatTag, kFormatFloat);
    EXPECT_EQ(buffer->format().blockAlign(), 8);
    // A little over full scale plays; samples of absurd size are a damaged file.
    LoadedSound sound;
    test::WriteBinary("hot.wav", test::MakeWav(fl, test::SineSamples(fl, 300, 3, 100)));
    EXPECT_TRUE(ReadSound("hot.wav", sound));
    test::WriteBinary("huge.wav", test::MakeWav(fl, test::SineSamples(fl, 300, 3e38, 100)));
    EXPECT_FALSE(ReadSound("huge.wav", sound));
    EXPECT_EQ(sound.error, "Unable to decode file (huge.wav)");

    test::WavSpec s24{1, 2, 44100, 24};
    test::WriteBinary("b.wav", test::MakeWav(s24, test::SineSamples(s24, 300, 0.5, 10)));
    ASSERT_TRUE(Load("b.wav"));
    EXPECT_EQ(buffer->format().blockAlign(), 6);
}

TEST_F(Loading, DataSizeLargerThanTheFileCopiesWhatIsThere) {
    test::WavSpec spec{1, 1, 8000, 16};
    std::string file = test::MakeWav(spec, test::SineSamples(spec, 300, 0.5, 100));
    file[40] = '\xff';
    file[41] = '\xff';
    file[42] = '\xff';
    file[43] = '\xff';
    test::WriteBinary("long.wav", file);
    ASSERT_TRUE(Load("long.wav"));
    EXPECT_EQ(size, file.size());
}

TEST_F(Loading, MissingEmptyAndBrokenFilesGetTheirMessage) {
    EXPECT_FALSE(Load("sounds\\Voice Messages\\General\\gone.wav"));
    EXPECT_EQ(LastBox(), "Unable to locate file (sounds\\Voice Messages\\General\\gone.wav)");
    EXPECT_EQ(boxes.boxes().back().caption, "Error");
    EXPECT_EQ(data, nullptr);

    test::WriteBinary("empty.wav", "");
    EXPECT_FALSE(Load("empty.wav"));
    EXPECT_EQ(LastBox(), "Unable to read file (empty.wav): the file is empty");
    fs::create_directories("folder.wav");
    EXPECT_FALSE(Load("folder.wav"));
    EXPECT_EQ(LastBox(), "Unable to read file (folder.wav): it is a folder");

    int count = 0;
    test::WriteTone("good.wav", 0.1);
    for (const auto& entry : fs::directory_iterator(TONEWELL_CORPUS "/bad-wav")) {
        fs::copy_file(entry.path(), "bad.wav", fs::copy_options::overwrite_existing);
        ASSERT_TRUE(Load("good.wav"));
        EXPECT_FALSE(Load("bad.wav")) << entry.path();
        EXPECT_EQ(LastBox(), "Unsupported audio format (bad.wav): WAV in PCM 8-32 bit, float, u-law or A-law; MP3") << entry.path();
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(data, nullptr);
        ++count;
    }
    EXPECT_GE(count, 15);
}

TEST_F(Loading, Mp3StreamsWithTheLengthOfItsFramesAndNoTmpWav) {
    test::WriteTone("tone.wav", 1.0, 440, 44100, 2);
    ASSERT_EQ(std::system("lame --quiet -b 128 tone.wav Tone.MP3"), 0);
    ASSERT_TRUE(Load("Tone.MP3"));
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(buffer->format().samplesPerSec, 44100u);
    EXPECT_EQ(buffer->format().channels, 2);
    EXPECT_EQ(buffer->format().bitsPerSample, 16);
    EXPECT_FALSE(fs::exists("tmp.wav"));
    // Known before a sample is decoded: as long as what mpg123 itself decodes.
    ASSERT_EQ(std::system("mpg123 -q -w peer.wav Tone.MP3"), 0);
    std::vector<float> pcm;
    int channels, rate;
    ASSERT_TRUE(test::ReadWav16("peer.wav", pcm, channels, rate));
    EXPECT_EQ(size, 44 + 2 * pcm.size());
    const auto played = Played(44100);
    const std::vector<float> left(played.begin() + 2000, played.begin() + 20000);
    EXPECT_GT(test::ToneMagnitude(left, 44100, 440), 0.1);

    // For a phone's 8 kHz output it is decoded at 8 kHz, the same length in time.
    std::unique_ptr<SoundDevice> phone;
    ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Direct, phone, 8000), DS_OK);
    ASSERT_TRUE(LoadSound(buffer, data, "Tone.MP3", size, phone.get(), boxes));
    EXPECT_EQ(buffer->format().samplesPerSec, 8000u);
    EXPECT_NEAR((size - 44) / 4.0, pcm.size() / 2.0 * 8000 / 44100, 2);
    std::vector<float> out(2 * 8000);
    buffer->Play();
    phone->mixer().Render(out.data(), 8000);
    std::vector<float> phoneLeft;
    for (int i = 1000; i < 7000; ++i) phoneLeft.push_back(out[2 * i]);
    EXPECT_GT(test::ToneMagnitude(phoneLeft, 8000, 440), 0.1);
    buffer.reset();
    // A phone line that keeps one channel gets it mixed down by the decoder.
    LoadedSound mono;
    ASSERT_TRUE(ReadSound("Tone.MP3", mono, {8000, true}));
    EXPECT_EQ(mono.info.format.channels, 1);
    EXPECT_EQ(mono.size, 44 + (size - 44) / 2);

    fs::copy_file(TONEWELL_CORPUS "/bad-mp3/id3-tag-only.mp3", "broken.mp3");
    EXPECT_FALSE(Load("broken.mp3"));
    EXPECT_EQ(LastBox(), "Unable to decode file (broken.mp3)");
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(data, nullptr);

    // A missing MP3 is named, and its slots are left alone.
    ASSERT_TRUE(Load("Tone.MP3"));
    EXPECT_FALSE(Load("gone.mp3"));
    EXPECT_EQ(LastBox(), "Unable to locate file (gone.mp3)");
    EXPECT_NE(data, nullptr);

    // Any name containing ".mp3" is one.
    fs::copy_file("tone.wav", "a.mp3.wav");
    EXPECT_FALSE(Load("a.mp3.wav"));
    EXPECT_EQ(LastBox(), "Unable to decode file (a.mp3.wav)");
}

// Lists brought from a system whose file names ignore case: the one file that
// matches plays, and the log names it; two that match are no match.
TEST_F(Loading, ANameInAnotherLetterCasePlaysTheOneFileThatMatches) {
    test::LogCapture log;
    fs::create_directories("sounds/Music Tracks/Jazz");
    test::WriteTone("sounds/Music Tracks/Jazz/Blue Evening.wav", 0.5);
    ASSERT_TRUE(Load("sounds\\music tracks\\JAZZ\\blue evening.WAV")) << LastBox();
    EXPECT_TRUE(log.Has("status - sounds\\music tracks\\JAZZ\\blue evening.WAV is played from "
                        "sounds/Music Tracks/Jazz/Blue Evening.wav (the letter case differs)"));
    test::WriteTone("sounds/Music Tracks/Jazz/BLUE EVENING.wav", 0.5);
    EXPECT_FALSE(Load("sounds\\music tracks\\JAZZ\\blue evening.WAV"));
    EXPECT_EQ(LastBox(), "Unable to locate file (sounds\\music tracks\\JAZZ\\blue evening.WAV)");
}

// Phone prompts: G.711 u-law and A-law WAVs (as sox and telephony systems write
// them) and RF64 play as their tone; a G.711 header with a wrong block align never
// crashes, and whatever is refused says what is played.
TEST_F(Loading, PhoneFormatsAndRf64Play) {
    ASSERT_EQ(std::system("sox -n -r 8000 -c 1 -e u-law mu.wav synth 2 sine 440 vol 0.5 && "
                          "sox -n -r 8000 -c 1 -e a-law a.wav synth 2 sine 440 vol 0.5 && "
                          "ffmpeg -nostdin -loglevel error -f lavfi -i sine=440:d=2 -ar 44100 "
                          "-rf64 always rf64.wav"),
              0);
    for (const char* name : {"mu.wav", "a.wav", "rf64.wav"}) {
        ASSERT_TRUE(Load(name)) << name << ": " << LastBox();
        const auto played = Played(44100);
        const std::vector<float> middle(played.begin() + 4000, played.begin() + 40000);
        const double tone = test::ToneMagnitude(middle, 44100, 440);
        EXPECT_GT(tone, 0.02) << name;  // ffmpeg's sine is at 1/8 of full scale
        EXPECT_LT(test::ToneMagnitude(middle, 44100, 1000), tone / 20) << name;
    }
    std::string bad = test::ReadText("mu.wav");
    bad[32] = 7;  // block align
    test::WriteBinary("bad-align.wav", bad);
    if (!Load("bad-align.wav")) {
        EXPECT_EQ(LastBox(), "Unsupported audio format (bad-align.wav): WAV in PCM 8-32 bit, float, "
                             "u-law or A-law; MP3");
    }
}

// Damage in the middle of an MP3 (4 KB of noise over its frames) is skipped: the
// song plays on to its end, as other players play it.
TEST_F(Loading, AnMp3DamagedInTheMiddlePlaysOnToItsEnd) {
    test::WriteTone("tone.wav", 10.0, 440, 44100, 1);
    ASSERT_EQ(std::system("lame --quiet -b 64 tone.wav song.mp3"), 0);
    std::string bytes = test::ReadText("song.mp3");
    std::srand(7);
    for (size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(std::rand());
    test::WriteBinary("song.mp3", bytes);
    std::unique_ptr<SoundSource> source;
    ASSERT_EQ(OpenMp3Source("song.mp3", source), SourceResult::Ok);
    std::vector<uint8_t> block(4096 * 2);
    int64_t frames = 0;
    for (int64_t n; (n = source->Read(block.data(), 4096)) > 0;) frames += n;
    EXPECT_GT(frames, 9 * 44100) << source->problem();
}

TEST_F(Loading, BadMp3sNeverCrash) {
    for (const auto& entry : fs::directory_iterator(TONEWELL_CORPUS "/bad-mp3")) {
        fs::copy_file(entry.path(), "bad.mp3", fs::copy_options::overwrite_existing);
        boxes.Clear();
        if (!Load("bad.mp3")) {
            EXPECT_EQ(LastBox(), "Unable to decode file (bad.mp3)") << entry.path();
        }
    }
}

TEST_F(Loading, WithoutADeviceTheDataLoadsAndNoBufferIsMade) {
    test::WriteTone("t.wav", 0.1);
    ASSERT_TRUE(LoadSound(buffer, data, "t.wav", size, nullptr, boxes));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_NE(data, nullptr);
}

}  // namespace
