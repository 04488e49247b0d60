#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Mixer.h"
#include "SoundBuffer.h"
#include "SoundStream.h"

using namespace tw;
using namespace std::chrono_literals;

namespace {

// Whether a source may read past its first `answered` frames (a mount that stops
// answering, then comes back).
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool waiting = false;
    void Open() {
        std::lock_guard<std::mutex> hold(lock);
        open = true;
        changed.notify_all();
    }
};

// A 16-bit stereo source at 44.1 kHz whose samples are all 0.25.
class StallingSource : public SoundSource {
  public:
    StallingSource(std::shared_ptr<Gate> gate, uint64_t answered, uint64_t frames)
        : gate_(std::move(gate)), answered_(answered) {
        frames_ = frames;
    }
    int64_t Read(uint8_t* dest, int64_t maxFrames) override {
        if (at_ >= answered_) {
            std::unique_lock<std::mutex> hold(gate_->lock);
            gate_->waiting = true;
            gate_->changed.wait(hold, [this] { return gate_->open; });
        }
        const int64_t n = std::min<int64_t>(maxFrames, static_cast<int64_t>(frames_ - at_));
        for (int64_t i = 0; i < 2 * n; ++i) {
            dest[2 * i] = 0x00;
            dest[2 * i + 1] = 0x20;  // 8192 / 32768
        }
        at_ += static_cast<uint64_t>(n);
        return n;
    }
    bool Rewind() override {
        at_ = 0;
        return true;
    }

  private:
    std::shared_ptr<Gate> gate_;
    uint64_t answered_;
    uint64_t at_ = 0;
};

// Renders `frames` and counts the frames that carry the source's sound.
int64_t Sounding(Mixer& mixer, int frames) {
    std::vector<float> out(2 * 1024);
    int64_t sounding = 0;
    for (int done = 0; done < frames; done += 1024) {
        const int n = std::min(1024, frames - done);
        mixer.Render(out.data(), n);
        for (int i = 0; i < n; ++i) sounding += out[2 * i] == 0.25f;
    }
    return sounding;
}

// A stream of a StallingSource, primed, fed by its own thread or by the render.
std::shared_ptr<SoundStream> GatedStream(const std::shared_ptr<Gate>& gate, int64_t answered,
                                         int64_t frames, const char* name, bool inThread) {
    auto stream =
        std::make_shared<SoundStream>(std::make_unique<StallingSource>(gate, answered, frames), name);
    std::string problem;
    if (!stream->Prime(problem)) return nullptr;
    if (inThread) stream->FeedInThread();
    else stream->FeedInline();
    return stream;
}

}  // namespace

TEST(Stream, AReadThatHangsRunsOneSoundDryAndLosesNothingWhenItAnswers) {
    auto gate = std::make_shared<Gate>();
    auto stream = GatedStream(gate, 44100, 3 * 44100, "stalling", true);
    ASSERT_TRUE(stream);
    Mixer mixer(44100);
    SoundBuffer buffer(mixer, 3 * 44100 * 4, stream);
    buffer.Play();
    // Rendering never waits for the feeder; past the first second the sound is silent
    // and holds its place.
    int64_t heard = 0;
    for (int i = 0; i < 40 && heard < 44100; ++i) {
        heard += Sounding(mixer, 4410);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(heard, 44100);
    EXPECT_EQ(Sounding(mixer, 22050), 0);
    EXPECT_TRUE(buffer.IsPlaying());
    EXPECT_EQ(buffer.Position(), 44100u * 4);
    EXPECT_GE(buffer.DryFrames(), 22050u);
    // Once the file answers, the rest plays: nothing skipped, and it ends.
    gate->Open();
    for (int i = 0; i < 200 && buffer.IsPlaying(); ++i) {
        heard += Sounding(mixer, 4410);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(heard, 3 * 44100);
    EXPECT_FALSE(buffer.IsPlaying());
    EXPECT_TRUE(buffer.HasFinished());
    EXPECT_EQ(buffer.DryFrames(), 0u);
}

TEST(Stream, ASoundWhoseReadHangsIsReleasedWithoutWaiting) {
    auto gate = std::make_shared<Gate>();
    {
        auto stream = GatedStream(gate, 1000, 10 * 44100, "hanging", true);
        ASSERT_TRUE(stream);
        Mixer mixer(44100);
        SoundBuffer buffer(mixer, 10 * 44100 * 4, stream);
        buffer.Play();
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<std::mutex> hold(gate->lock);
                if (gate->waiting) break;
            }
            std::this_thread::sleep_for(5ms);
        }
        std::lock_guard<std::mutex> hold(gate->lock);
        ASSERT_TRUE(gate->waiting);
    }  // buffer and stream gone while the feeder is still inside its read
    gate->Open();  // the feeder then ends by itself
}

TEST(Stream, ASoundPast4GiBKeeps64BitPositionsAndScalesThe32BitOne) {
    // Ten hours of 44.1 kHz 16-bit stereo: 6.35 GB.
    const uint64_t frames = uint64_t{10} * 3600 * 44100;
    auto gate = std::make_shared<Gate>();
    gate->open = true;
    auto stream = GatedStream(gate, frames, frames, "ten hours", false);
    ASSERT_TRUE(stream);
    Mixer mixer(44100);
    SoundBuffer buffer(mixer, 44 + frames * 4, stream);
    EXPECT_EQ(buffer.size(), 44 + frames * 4);
    buffer.Play();
    EXPECT_EQ(Sounding(mixer, 44100 * 3), 44100 * 3);
    EXPECT_EQ(buffer.Position(), 44100u * 3 * 4);
    uint32_t cursor = 0;
    buffer.GetCurrentPosition(&cursor);
    EXPECT_NEAR(cursor, 44100.0 * 3 * 4 * 0xFFFFFFFF / (44 + frames * 4), 1);
}
