#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Buffers.h"
#include "SoundDevice.h"
#include "Wav.h"

using namespace tw;

namespace {

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Direct, device, 48000), DS_OK);
    }
    std::unique_ptr<SoundBuffer> Tone(uint32_t rate, uint16_t channels, double hz, double seconds,
                                      double amplitude = 0.5, uint16_t bits = 16) {
        return test::ToneBuffer(*device, test::WavSpec{1, channels, rate, bits}, hz, seconds,
                                amplitude);
    }
    std::vector<float> Render(int frames) {
        std::vector<float> out(2 * frames);
        device->mixer().Render(out.data(), frames);
        return out;
    }
    std::unique_ptr<SoundDevice> device;
};

TEST_F(MixerTest, LevelInHundredthsOfADecibel) {
    auto a = Tone(48000, 1, 1000, 2.0);
    a->Play();
    auto full = Render(24000);
    a->SetVolume(-600);
    Render(4800);  // past the 5 ms ramp
    auto down = Render(24000);
    const double drop =
        test::Db(test::Rms(down.data(), down.size()) / test::Rms(full.data(), full.size()));
    EXPECT_NEAR(drop, -6.0, 0.1);
    a->SetVolume(-10000);
    Render(480);
    auto silent = Render(4800);
    EXPECT_EQ(test::Rms(silent.data(), silent.size()), 0.0);
}

TEST_F(MixerTest, CursorPlayOnceStopAndResume) {
    auto a = Tone(48000, 2, 440, 0.5);  // 24000 frames, block align 4
    uint32_t cursor = 1;
    a->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 0u);
    a->Play();
    Render(1000);
    a->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 4000u);
    a->Stop();
    Render(5000);
    a->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 4000u);  // Stop keeps the cursor
    a->Play();
    Render(22000);
    EXPECT_TRUE(a->IsPlaying());
    EXPECT_FALSE(a->HasFinished());
    auto tail = Render(2000);
    EXPECT_FALSE(a->IsPlaying());
    EXPECT_TRUE(a->HasFinished());
    a->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 0u);
    // It ended after 1000 frames of this render: the rest is silence.
    EXPECT_GT(test::Rms(tail.data(), 2000), 0.1);
    EXPECT_EQ(test::Rms(tail.data() + 2000, 2000), 0.0);
    a->Play();  // plays again from the start
    Render(10);
    EXPECT_FALSE(a->HasFinished());
    a->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 40u);
}

TEST_F(MixerTest, TwoSoundsSumAndTheSumIsClipped) {
    auto a = Tone(48000, 1, 1000, 1.0, 0.25);
    auto b = Tone(48000, 1, 1000, 1.0, 0.25);
    a->Play();
    auto one = Render(4800);
    a->Stop();
    a->Play();
    b->Play();
    auto two = Render(4800);
    EXPECT_NEAR(test::Rms(two.data(), two.size()) / test::Rms(one.data(), one.size()), 2.0, 0.01);

    auto c = Tone(48000, 1, 100, 1.0, 1.0);
    auto d = Tone(48000, 1, 100, 1.0, 1.0);
    c->Play();
    d->Play();
    for (float v : Render(4800)) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST_F(MixerTest, EightKilohertzVoiceResampledKeepsItsToneAndNoImages) {
    auto voice = Tone(8000, 1, 1000, 1.0, 0.5, 8);
    voice->Play();
    Render(4800);  // let the resampler settle
    auto out = Render(24000);
    std::vector<float> left(24000);
    for (int i = 0; i < 24000; ++i) left[i] = out[2 * i];
    const double tone = test::ToneMagnitude(left, 48000, 1000);
    EXPECT_GT(tone, 0.1);
    double worst = 0;
    for (double hz = 4500; hz < 24000; hz += 50)
        worst = std::max(worst, test::ToneMagnitude(left, 48000, hz));
    EXPECT_LT(test::Db(worst / tone), -60.0);
    // The images of an 8 kHz tone at 1 kHz would stand at 7, 9, 15 and 17 kHz.
    for (double hz : {7000.0, 9000.0, 15000.0, 17000.0})
        EXPECT_LT(test::Db(test::ToneMagnitude(left, 48000, hz) / tone), -60.0) << hz;
}

TEST_F(MixerTest, ResampledSoundEndsAndReportsIt) {
    auto voice = Tone(8000, 1, 500, 0.4);
    voice->Play();
    for (int i = 0; i < 30 && voice->IsPlaying(); ++i) Render(1024);
    EXPECT_TRUE(voice->HasFinished());
    uint32_t cursor = 5;
    voice->GetCurrentPosition(&cursor);
    EXPECT_EQ(cursor, 0u);
}

TEST_F(MixerTest, EveryFormatPlaysAsItself) {
    struct F {
        uint16_t tag, bits;
    } formats[] = {{1, 8}, {1, 16}, {1, 24}, {1, 32}, {3, 32}};
    for (const F& f : formats) {
        auto b = test::ToneBuffer(*device, test::WavSpec{f.tag, 2, 48000, f.bits}, 1000, 0.1, 0.5);
        b->Play();
        auto out = Render(4800);
        EXPECT_NEAR(test::Rms(out.data(), out.size()), 0.5 / std::sqrt(2.0), 0.01)
            << f.tag << "/" << f.bits;
    }
    std::unique_ptr<SoundBuffer> b;
    EXPECT_EQ(device->CreateSoundBuffer(WaveFormat{1, 2, 48000, 12}, 100, b), DSERR_BADFORMAT);
    EXPECT_EQ(device->CreateSoundBuffer(WaveFormat{3, 2, 48000, 64}, 100, b), DSERR_BADFORMAT);
    EXPECT_EQ(b, nullptr);
}

TEST_F(MixerTest, EightBitBufferTailIsSilent) {
    std::unique_ptr<SoundBuffer> b;
    ASSERT_EQ(device->CreateSoundBuffer(WaveFormat{1, 1, 48000, 8}, 4800, b), DS_OK);
    b->Play();
    auto out = Render(4800);
    EXPECT_EQ(test::Rms(out.data(), out.size()), 0.0);
}

// Float samples that are absurd (near the largest float) or not numbers at all,
// in a sound that must be resampled: nothing but finite full-scale values may
// leave the mixer, and the sound around them is still heard.
TEST_F(MixerTest, AbsurdFloatSamplesNeverReachTheOutputAsNaN) {
    const test::WavSpec spec{3, 1, 22050, 32};
    std::vector<uint8_t> samples = test::SineSamples(spec, 440, 0.5, 22050);
    const float wild[] = {3.0e38f, -3.0e38f, INFINITY, -INFINITY, NAN, 3.4e38f};
    for (int i = 0; i < 600; ++i) {
        const float v = wild[i % 6];
        std::memcpy(samples.data() + 4 * (5000 + i), &v, 4);
    }
    auto a = test::FilledBuffer(*device, spec, samples);
    a->Play();
    const auto out = Render(48000);
    for (float v : out) {
        ASSERT_TRUE(std::isfinite(v));
        ASSERT_LE(std::fabs(v), 1.0f);
    }
    // Past the glitch (and the resampler's memory of it) the tone is there.
    EXPECT_NEAR(test::Rms(out.data() + 2 * 24000, 2 * 12000), 0.5 / std::sqrt(2.0), 0.02);
}

}  // namespace
