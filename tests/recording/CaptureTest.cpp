// Recording through a real sound server: a PulseAudio pipe source, fed a 440 Hz
// tone at 8 kHz unsigned 8-bit from a FIFO, is the default input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoadSound.h"
#include "RecordSound.h"
#include "TempFolder.h"
#include "Wav.h"
#include "WriteSoundFile.h"

using namespace tw;
using namespace std::chrono_literals;

namespace {

class Capture : public test::TempFolderTest {
  protected:
    void SetUp() override {
        if (!std::getenv("TONEWELL_PULSE")) GTEST_SKIP() << "no test sound server";
        TempFolderTest::SetUp();
        fifo_ = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/mic";
        ASSERT_EQ(std::system(("pactl load-module module-pipe-source source_name=mic file=" + fifo_ +
                               " format=u8 rate=8000 channels=1"
                               " source_properties=device.description=TestMicrophone"
                               " > module.txt")
                                  .c_str()),
                  0);
        ASSERT_EQ(std::system("pactl set-default-source mic"), 0);
        // The tone, in real time: the pipe source reads whatever the FIFO holds at
        // once. And a reader that keeps the source flowing between recordings.
        feeder_ = std::thread([this] {
            const int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) return;
            uint8_t chunk[800];  // a tenth of a second
            long n = 0;
            for (auto next = std::chrono::steady_clock::now(); !stop_;
                 next += 100ms, std::this_thread::sleep_until(next)) {
                for (uint8_t& v : chunk)
                    v = static_cast<uint8_t>(128 + 60 * std::sin(2 * M_PI * 440 * (n++) / 8000.0));
                if (::write(fd, chunk, sizeof chunk) < 0) break;
            }
            ::close(fd);
        });
        std::system("(parec -d mic --raw > /dev/null) >/dev/null 2>&1 & echo $! > drain.pid");
        std::this_thread::sleep_for(500ms);
    }
    void TearDown() override {
        if (!fifo_.empty()) {
            stop_ = true;
            if (feeder_.joinable()) feeder_.join();
            std::system("kill $(cat drain.pid) 2>/dev/null");
            std::system("pactl unload-module $(cat module.txt) 2>/dev/null");
            std::system("pactl set-default-source moh.monitor 2>/dev/null");
        }
        TempFolderTest::TearDown();
    }
    std::string fifo_;
    std::thread feeder_;
    std::atomic<bool> stop_{false};
};

TEST_F(Capture, ThreeSecondsOfToneReachSoundWavInWholeBlocks) {
    std::atomic<int> blocks{0}, loudest{0}, failures{0};
    {
        CWriteSoundFile writer;
        CRecordSound recorder(8000, [&](const CaptureEvent& e) {
            if (e.kind == CaptureEvent::Block) {
                ++blocks;
                loudest = std::max(loudest.load(), e.peak);
            } else {
                ++failures;
            }
        });
        recorder.Post(CRecordSound::SetWriter, reinterpret_cast<uintptr_t>(&writer));
        recorder.Post(CRecordSound::StartCapture, 1);
        std::this_thread::sleep_for(3s);
        recorder.Post(CRecordSound::StopCapture);
    }  // both threads joined: the file is closed
    EXPECT_EQ(failures.load(), 0);
    LoadedSound sound;
    ASSERT_TRUE(ReadSound("sound.wav", sound)) << sound.error;
    EXPECT_EQ(sound.info.format.samplesPerSec, 8000u);
    EXPECT_EQ(sound.info.format.bitsPerSample, 8);
    EXPECT_EQ(sound.info.format.channels, 1);
    EXPECT_EQ(sound.info.dataSize % 1000, 0u);
    EXPECT_GE(sound.info.dataSize, 20000u);
    EXPECT_EQ(static_cast<int>(sound.info.dataSize / 1000), blocks.load());
    EXPECT_GT(loudest.load(), 40);
    // The tone is there, and nothing of it is missing: no stretch of silence.
    std::vector<float> samples;
    const std::string file = test::ReadText("sound.wav");
    for (size_t i = 0; i < sound.info.dataSize; ++i)
        samples.push_back((static_cast<uint8_t>(file[sound.info.dataOffset + i]) - 128) / 128.0f);
    EXPECT_GT(test::ToneMagnitude(samples, 8000, 440),
              10 * test::ToneMagnitude(samples, 8000, 1000));
    size_t quiet = 0, longestQuiet = 0;
    for (size_t i = 2000; i < samples.size(); ++i) {
        quiet = std::abs(samples[i]) < 0.02f ? quiet + 1 : 0;
        longestQuiet = std::max(longestQuiet, quiet);
    }
    EXPECT_LT(longestQuiet, 40u);  // a 440 Hz sine crosses zero every 9 samples

    // A second recording rewrites the file; start and stop in quick succession
    // leave whole blocks only.
    {
        CWriteSoundFile writer;
        CRecordSound recorder(8000, {});
        recorder.Post(CRecordSound::SetWriter, reinterpret_cast<uintptr_t>(&writer));
        for (int i = 0; i < 10; ++i) {
            recorder.Post(CRecordSound::StartCapture, 1);
            recorder.Post(CRecordSound::StopCapture);
        }
        recorder.Post(CRecordSound::StartCapture, 1);
        std::this_thread::sleep_for(3s);  // the quick pairs are worked through first
    }  // closing mid-recording stops the capture and closes the file
    ASSERT_TRUE(ReadSound("sound.wav", sound)) << sound.error;
    EXPECT_EQ(sound.info.dataSize % 1000, 0u);
    EXPECT_GE(sound.info.dataSize, 1000u);
}

// An input that stops delivering (here the pipe source's feeder stops after a
// second) counts as lost after three seconds: what came before is kept as a whole
// file, and neither the recorder nor its caller waits on the stalled device.
TEST_F(Capture, AStalledInputIsLostAndWhatCameBeforeIsKept) {
    std::vector<CaptureEvent> events;
    std::mutex lock;
    const auto started = std::chrono::steady_clock::now();
    {
        CWriteSoundFile writer;
        CRecordSound recorder(8000, [&](const CaptureEvent& e) {
            std::lock_guard<std::mutex> hold(lock);
            if (e.kind != CaptureEvent::Block) events.push_back(e);
        });
        recorder.Post(CRecordSound::SetWriter, reinterpret_cast<uintptr_t>(&writer));
        recorder.Post(CRecordSound::StartCapture, 7);
        std::this_thread::sleep_for(1s);
        stop_ = true;  // the source stalls
        feeder_.join();
        std::this_thread::sleep_for(4500ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CaptureEvent::Lost);
    EXPECT_EQ(events[0].recording, 7u);
    EXPECT_EQ(events[0].text, "WAVEIN:40:the sound input stopped delivering sound");
    LoadedSound sound;
    ASSERT_TRUE(ReadSound("sound.wav", sound)) << sound.error;
    EXPECT_EQ(sound.info.dataSize % 1000, 0u);
    EXPECT_GE(sound.info.dataSize, 3000u);
}

// The input the user picks records, whatever the system's default is; the
// default is what an empty choice records; a picked input that has gone is said
// by its name, and nothing else records in its place.
TEST_F(Capture, ThePickedInputRecordsNotTheDefault) {
    ASSERT_EQ(std::system("pactl set-default-source moh.monitor"), 0);  // silent
    std::vector<std::string> inputs;
    std::vector<CaptureEvent> failures;
    std::atomic<int> loudest{0};
    std::mutex lock;
    auto record = [&](const std::string& input) {
        loudest = 0;
        CWriteSoundFile writer;
        CRecordSound recorder(8000, [&](const CaptureEvent& e) {
            std::lock_guard<std::mutex> hold(lock);
            if (e.kind == CaptureEvent::Inputs) inputs = e.inputs;
            else if (e.kind == CaptureEvent::Block) loudest = std::max(loudest.load(), e.peak);
            else failures.push_back(e);
        });
        recorder.Post(CRecordSound::SetWriter, reinterpret_cast<uintptr_t>(&writer));
        recorder.Post(CRecordSound::ListInputs);
        auto choice = std::make_unique<InputChoice>();
        choice->name = input;
        recorder.Post(CRecordSound::UseInput, 0, std::move(choice));
        recorder.Post(CRecordSound::StartCapture, 1);
        std::this_thread::sleep_for(1500ms);
    };
    record("");  // the default input, silent; and the list
    EXPECT_TRUE(failures.empty()) << failures[0].text;
    EXPECT_LT(loudest.load(), 5);
    // SDL names a second input of the same name "(2)": one that is still closing
    // keeps the plain name.
    const auto mic = std::find_if(inputs.begin(), inputs.end(), [](const std::string& name) {
        return name.rfind("TestMicrophone", 0) == 0;
    });
    ASSERT_NE(mic, inputs.end()) << testing::PrintToString(inputs);
    const std::string picked = *mic;

    record(picked);
    EXPECT_TRUE(failures.empty()) << failures[0].text;
    EXPECT_GT(loudest.load(), 40);

    record("A microphone that was unplugged");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].kind, CaptureEvent::Failed);
    EXPECT_NE(failures[0].text.find("\"A microphone that was unplugged\""), std::string::npos)
        << failures[0].text;
    EXPECT_EQ(loudest.load(), 0);
}

}  // namespace
