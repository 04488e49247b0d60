#include "SoundStream.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Log.h"

namespace tw {

struct SoundStream::Shared {
    std::unique_ptr<SoundSource> source;
    std::string name;
    unsigned align = 1;
    int64_t capacity = 0;  // frames
    int64_t block = 0;     // frames a feeder reads at a time
    std::vector<uint8_t> ring;
    std::atomic<uint64_t> written{0};  // frames, counted from the (re)start
    std::atomic<uint64_t> read{0};
    std::atomic<bool> ended{false};
    std::atomic<bool> restart{false};
    std::atomic<bool> stop{false};
    std::mutex lock;  // the feeder thread and Stop only: the render never takes it
    std::condition_variable wake;
    bool busy = false;  // the feeder thread is reading
    bool damaged = false;
    std::string problem;  // why the sound ended early (feeder side)

    int64_t Free() const {
        return capacity - static_cast<int64_t>(written.load(std::memory_order_relaxed) -
                                               read.load(std::memory_order_acquire));
    }
    // Float samples beyond +36 dBFS (or not numbers) are no sound anyone recorded:
    // they would reach the line as full-scale noise.
    bool Plausible(const uint8_t* bytes, int64_t frames) const {
        if (source->format().formatTag != kFormatFloat) return true;
        constexpr float kMost = 63.1f;
        const size_t count = static_cast<size_t>(frames) * align / 4;
        for (size_t i = 0; i < count; ++i) {
            float v;
            std::memcpy(&v, bytes + 4 * i, 4);
            if (!(std::fabs(v) <= kMost)) return false;
        }
        return true;
    }
    // Reads up to `most` frames into the free part of the ring (feeder side).
    // False once the sound has ended.
    bool Fill(int64_t most) {
        if (ended.load(std::memory_order_relaxed)) return false;
        const uint64_t w = written.load(std::memory_order_relaxed);
        const int64_t at = static_cast<int64_t>(w % static_cast<uint64_t>(capacity));
        const int64_t want = std::min({most, Free(), capacity - at});
        if (want <= 0) return true;
        uint8_t* dest = ring.data() + at * align;
        const int64_t got = source->Read(dest, want);
        if (got > 0 && !Plausible(dest, got)) {
            damaged = true;
            return End("float samples far past full scale: damaged");
        }
        if (got > 0) written.store(w + static_cast<uint64_t>(got), std::memory_order_release);
        if (got == want) return true;
        // Less than asked: the end of the samples, where the file promised or earlier.
        return End(source->problem());
    }
    bool End(const std::string& why) {
        if (!why.empty()) {
            const double rate = source->format().samplesPerSec ? source->format().samplesPerSec : 1;
            Log("error - %s: %s; the sound ends there, %.1f s into it", name.c_str(), why.c_str(),
                written.load(std::memory_order_relaxed) / rate);
            problem = why;
        }
        ended.store(true, std::memory_order_release);
        return false;
    }
    // Feeder side, while the render leaves the stream alone.
    void DoRestart() {
        if (!source->Rewind()) Log("error - %s cannot be played again from its start", name.c_str());
        written.store(read.load(std::memory_order_acquire), std::memory_order_relaxed);
        ended.store(false, std::memory_order_relaxed);
        restart.store(false, std::memory_order_release);
    }
};

SoundStream::SoundStream(std::unique_ptr<SoundSource> source, std::string name)
    : format_(source->format()), frames_(source->frames()), shared_(std::make_shared<Shared>()) {
    Shared& s = *shared_;
    s.source = std::move(source);
    s.name = std::move(name);
    s.align = format_.blockAlign();
    // About 4 seconds, read in eighths.
    s.capacity = std::max<int64_t>(16384, int64_t{format_.samplesPerSec} * 4);
    s.block = s.capacity / 8;
    s.ring.resize(static_cast<size_t>(s.capacity) * s.align);
}

SoundStream::~SoundStream() {
    Stop();
}

bool SoundStream::Prime(std::string& problem) {
    Shared& s = *shared_;
    s.Fill(s.block);
    problem = s.problem;
    // A file that ends early still plays what it has; one that gives nothing, or
    // damaged samples, is refused.
    const bool nothing = s.written.load() == 0 && frames_ > 0 && !s.problem.empty();
    return !s.damaged && !nothing;
}

void SoundStream::FeedInThread() {
    if (feeder_.joinable() || inline_) return;
    feeder_ = std::thread(FeedLoop, shared_);
}

void SoundStream::FeedInline() {
    if (!feeder_.joinable()) inline_ = true;
}

void SoundStream::FeedLoop(std::shared_ptr<Shared> shared) {
    pthread_setname_np(pthread_self(), "tonewell-feed");
    Shared& s = *shared;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(s.lock);
            // The render cannot wake it (that could make the render wait): it looks
            // once a second, and the ring holds 4 s, read in half seconds, so 3 s
            // are always ahead of the play position.
            s.wake.wait_for(hold, std::chrono::milliseconds(1000), [&s] {
                return s.stop.load() || s.restart.load() ||
                       (!s.ended.load() && s.Free() >= s.block);
            });
            if (s.stop.load()) return;
            s.busy = true;
        }
        if (s.restart.load(std::memory_order_acquire)) s.DoRestart();
        while (!s.stop.load(std::memory_order_relaxed) && !s.restart.load() &&
               s.Free() >= s.block && s.Fill(s.block)) {
        }
        std::lock_guard<std::mutex> hold(s.lock);
        s.busy = false;
        if (s.stop.load()) return;
    }
}

void SoundStream::Stop() {
    if (!feeder_.joinable()) return;
    bool reading;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->stop = true;
        reading = shared_->busy;
    }
    shared_->wake.notify_all();
    // A read that hangs (a stalled mount) must not hang the player: the thread
    // keeps what it reads into alive and ends on its own once the read returns.
    if (reading)
        feeder_.detach();
    else
        feeder_.join();
}

int64_t SoundStream::Peek(const uint8_t** at, int64_t maxFrames) {
    Shared& s = *shared_;
    if (s.restart.load(std::memory_order_acquire)) return 0;
    const uint64_t r = s.read.load(std::memory_order_relaxed);
    auto available = [&s, r] {
        return static_cast<int64_t>(s.written.load(std::memory_order_acquire) - r);
    };
    // Filled inline, the ring is topped up whole once it runs short.
    if (inline_)
        while (available() < maxFrames && s.Fill(s.capacity)) {
        }
    const int64_t pos = static_cast<int64_t>(r % static_cast<uint64_t>(s.capacity));
    *at = s.ring.data() + pos * s.align;
    return std::min({available(), maxFrames, s.capacity - pos});
}

void SoundStream::Consume(int64_t frames) {
    Shared& s = *shared_;
    // No wake-up for the feeder from here: a notify could make the render wait on
    // the condition's own lock.
    s.read.store(s.read.load(std::memory_order_relaxed) + static_cast<uint64_t>(frames),
                 std::memory_order_release);
}

bool SoundStream::Ended() const {
    const Shared& s = *shared_;
    return !s.restart.load(std::memory_order_acquire) && s.ended.load(std::memory_order_acquire) &&
           s.written.load(std::memory_order_acquire) == s.read.load(std::memory_order_relaxed);
}

void SoundStream::Restart() {
    Shared& s = *shared_;
    s.restart.store(true, std::memory_order_release);
    if (feeder_.joinable()) {
        s.wake.notify_all();
    } else {
        s.DoRestart();
    }
}

}  // namespace tw
