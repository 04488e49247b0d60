#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "Buffers.h"
#include "LogCapture.h"
#include "Outputs.h"
#include "SoundDevice.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;

namespace {

TEST(DirectSoundErrors, NamesAndUnknownCodes) {
    RecordingMessageBox boxes;
    ShowDirectSoundError(boxes, 0);
    ShowDirectSoundError(boxes, 0x88780078);
    ShowDirectSoundError(boxes, 0x8878000A);
    ShowDirectSoundError(boxes, 0x88781161);
    ShowDirectSoundError(boxes, 0x12345678);
    ASSERT_EQ(boxes.boxes().size(), 5u);
    EXPECT_EQ(boxes.boxes()[0].text, "DS_OK");
    EXPECT_EQ(boxes.boxes()[1].text, "DSERR_NODRIVER");
    EXPECT_EQ(boxes.boxes()[2].text, "DSERR_ALLOCATED");
    EXPECT_EQ(boxes.boxes()[3].text, "DSERR_OBJECTNOTFOUND");
    EXPECT_EQ(boxes.boxes()[4].text, "Unknown error message");
    for (const auto& b : boxes.boxes()) EXPECT_EQ(b.caption, "DirectSound Error");
}

TEST(Guids, StableNameBasedAndPrintable) {
    EXPECT_EQ(GuidForName("Null Output"), GuidForName("Null Output"));
    EXPECT_NE(GuidForName("Null Output"), GuidForName("Null Output 2"));
    EXPECT_FALSE(IsNullGuid(GuidForName("x")));
    Guid g{};
    EXPECT_TRUE(IsNullGuid(g));
    g[0] = 0x78;
    g[3] = 0x12;
    EXPECT_EQ(GuidText(g), "{12000078-0000-0000-0000-000000000000}");
}

TEST(Devices, UnknownGuidIsNoDriver) {
    std::unique_ptr<SoundDevice> device;
    Guid unknown = GuidForName("no such output anywhere");
    EXPECT_EQ(SoundDevice::Create(&unknown, OutputMode::Device, device), DSERR_NODRIVER);
    EXPECT_EQ(device, nullptr);
}

// The rest plays through a PulseAudio null sink that scripts/test starts.
class SoundServer : public test::TempFolderTest {
  protected:
    void SetUp() override {
        if (!std::getenv("TONEWELL_PULSE")) GTEST_SKIP() << "no test sound server";
        TempFolderTest::SetUp();
    }
    // Records `seconds` of the null sink's monitor as 48 kHz stereo floats.
    std::vector<float> Record(double seconds) {
        const std::string cmd =
            "timeout " + std::to_string(seconds) +
            " parec --raw --format=s16le --rate=48000 --channels=2 -d moh.monitor > rec.raw";
        std::system(cmd.c_str());
        std::ifstream in("rec.raw", std::ios::binary);
        std::vector<float> out;
        int16_t s;
        while (in.read(reinterpret_cast<char*>(&s), 2)) out.push_back(s / 32768.0f);
        return out;
    }
    std::unique_ptr<SoundBuffer> Tone(SoundDevice& device, double seconds, double amplitude) {
        return test::ToneBuffer(device, test::WavSpec{1, 1, 48000, 16}, 1000, seconds, amplitude);
    }
};

TEST_F(SoundServer, ToneReachesTheChosenOutputAtItsLevel) {
    std::vector<std::pair<std::string, Guid>> seen[2];
    for (auto& list : seen)
        EnumerateOutputs([&](const Guid* g, const std::string& d, const std::string&) {
            list.push_back({d, g ? *g : Guid{}});
            return true;
        });
    ASSERT_GE(seen[0].size(), 2u);
    EXPECT_EQ(seen[0][0].first, "Default audio device");
    EXPECT_EQ(seen[0], seen[1]);  // the same GUIDs every time
    const Guid* nullSink = nullptr;
    for (const auto& [name, guid] : seen[0])
        if (name.find("Null") != std::string::npos) nullSink = &guid;
    ASSERT_NE(nullSink, nullptr);

    std::unique_ptr<SoundDevice> device;
    ASSERT_EQ(SoundDevice::Create(nullSink, OutputMode::Device, device), DS_OK);
    auto tone = Tone(*device, 6.0, 0.5);
    tone->SetVolume(-600);
    tone->Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto rec = Record(4.0);
    ASSERT_GT(rec.size(), 2u * 48000u);
    std::vector<float> left;
    for (size_t i = 0; i + 1 < rec.size(); i += 2) left.push_back(rec[i]);
    // 0.5 at -6 dB: an RMS of 0.25 / sqrt(2).
    EXPECT_NEAR(test::Db(test::Rms(left.data(), left.size()) / (0.25 / std::sqrt(2.0))), 0.0, 1.0);
    EXPECT_GT(test::ToneMagnitude(left, 48000, 1000), 10 * test::ToneMagnitude(left, 48000, 3000));
}

TEST_F(SoundServer, OutputRestsWhileNothingPlaysAndWakesForASound) {
    std::unique_ptr<SoundDevice> device;
    ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Device, device), DS_OK);
    EXPECT_TRUE(device->OnOutput());
    // Idle at two checks 2 s apart: closed after about 4 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
    EXPECT_FALSE(device->OnOutput());
    auto tone = Tone(*device, 5.0, 0.5);
    tone->Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(device->OnOutput());
    auto rec = Record(1.5);
    EXPECT_GT(test::Rms(rec.data(), rec.size()), 0.2);
}

TEST_F(SoundServer, PlaybackGoesOnWhenTheServerGoesAndComesBack) {
    test::LogCapture log;
    std::unique_ptr<SoundDevice> device;
    ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Device, device), DS_OK);
    auto tone = Tone(*device, 60.0, 0.3);
    tone->Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(std::system("pulseaudio --kill"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    uint32_t before = 0, after = 0;
    tone->GetCurrentPosition(&before);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    tone->GetCurrentPosition(&after);
    // Playback time goes on while the output is gone: about a second of 2-byte frames.
    EXPECT_NEAR(static_cast<double>(after - before), 96000.0, 20000.0);
    EXPECT_TRUE(device->OutputLost());  // the status line says so
    ASSERT_EQ(std::system(std::getenv("TONEWELL_PULSE_START")), 0);
    bool back = false;
    for (int i = 0; i < 60 && !back; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        back = log.Has("status - sound output back");
    }
    EXPECT_TRUE(back);
    EXPECT_FALSE(device->OutputLost());
    EXPECT_FALSE(log.With("error - sound output lost").empty());
    // The server may take a moment to carry the new stream.
    double rms = 0;
    for (int i = 0; i < 3 && rms < 0.1; ++i) {
        auto rec = Record(2.0);
        rms = test::Rms(rec.data(), rec.size());
    }
    EXPECT_GT(rms, 0.1);
}

}  // namespace

namespace {

// With SDL free to choose its driver, as on a user's box: a sound server that
// starts after the player, and one that restarts, are played on within 3 s, and
// ALSA, tried while the server is away, says nothing on stderr.
TEST_F(SoundServer, TheServerIsFoundWhenItStartsLateAndWhenItComesBack) {
    unsetenv("SDL_AUDIODRIVER");
    ASSERT_EQ(std::system("pulseaudio --kill; sleep 0.5"), 0);
    fflush(stderr);
    const int savedErr = dup(2);
    const int errFile = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(errFile, 2);
    test::LogCapture log;
    std::unique_ptr<SoundDevice> device;
    ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Device, device), DS_OK);
    auto tone = Tone(*device, 60.0, 0.3);
    tone->Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));  // two retries with no server
    auto backWithin = [&log](const char* line) {
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            if (log.Has(line)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    ASSERT_EQ(std::system(std::getenv("TONEWELL_PULSE_START")), 0);
    const double late = backWithin("status - sound output back");
    EXPECT_LT(late, 3.0);
    auto heard = [this] {
        double rms = 0;
        for (int i = 0; i < 3 && rms < 0.1; ++i) {
            auto rec = Record(1.5);
            rms = test::Rms(rec.data(), rec.size());
        }
        return rms;
    };
    EXPECT_GT(heard(), 0.1);
    // A restart of the server.
    ASSERT_EQ(std::system("pulseaudio --kill"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    log.lines.clear();
    ASSERT_EQ(std::system(std::getenv("TONEWELL_PULSE_START")), 0);
    const double again = backWithin("status - sound output back");
    EXPECT_LT(again, 3.0);
    EXPECT_GT(heard(), 0.1);
    std::printf("music back %.1f s after a late server, %.1f s after a restart\n", late, again);
    tone.reset();
    device.reset();
    fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);
    close(errFile);
    const std::string err = test::ReadText("stderr.txt");
    EXPECT_EQ(err.find("ALSA lib"), std::string::npos) << err;
    EXPECT_EQ(log.With("error - cannot open sound output").size(), 0u);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
}

}  // namespace
