#include "TapOutput.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "Log.h"
#include "Mixer.h"
#include "Pacer.h"
#include "PcmSink.h"

namespace tw {
namespace {

using std::chrono::steady_clock;

// The tap holds a second of the mix: far more than any output's thread is ever late.
size_t TapFrames(const Mixer& mixer) {
    return static_cast<size_t>(mixer.outputRate());
}

}  // namespace

TapOutput::TapOutput(Mixer& mixer, PcmSink& sink)
    : mixer_(mixer), sink_(sink), tap_(TapFrames(mixer)) {
    if (mixer.outputRate() != sink.rate()) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // Telephone and stream rates: medium quality is clean far past what they carry.
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
        soxr_error_t error = nullptr;
        resampler_ = soxr_create(mixer.outputRate(), sink.rate(), 2, &error, &io, &quality, nullptr);
        if (error) resampler_ = nullptr;
    }
    in_.resize(2 * 1024);
    // Two seconds at the sink's rate: a stalled thread's backlog, cut back to time below.
    fifo_.resize(2 * static_cast<size_t>(sink.rate()) * 2);
}

TapOutput::~TapOutput() {
    Stop();
    if (resampler_) soxr_delete(resampler_);
}

bool TapOutput::Start() {
    if (thread_.joinable()) return true;
    if (mixer_.outputRate() != sink_.rate() && !resampler_) {
        Log("error - %s: no converter from %d Hz to %d Hz; this output is left out",
            sink_.Name().c_str(), mixer_.outputRate(), sink_.rate());
        return false;
    }
    if (!mixer_.AddTap(&tap_, true)) {
        Log("error - %s: too many outputs for one mix; this output is left out",
            sink_.Name().c_str());
        return false;
    }
    tapped_ = true;
    quit_ = false;
    thread_ = std::thread(&TapOutput::Run, this);
    return true;
}

void TapOutput::Stop() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
    if (tapped_) mixer_.RemoveTap(&tap_);
    tapped_ = false;
}

std::string TapOutput::State() const {
    std::string text = sink_.State();
    const uint64_t dropped = dropped_, repeated = repeated_;
    if (dropped == 0 && repeated == 0) return text;
    const double rate = sink_.rate();
    char figures[128];
    std::snprintf(figures, sizeof figures, "; kept in time: %.2f s dropped, %.2f s repeated",
                  static_cast<double>(dropped) / rate, static_cast<double>(repeated) / rate);
    return text + figures;
}

void TapOutput::Drain() {
    const size_t capacity = fifo_.size() / 2;
    for (;;) {
        const int n = tap_.Read(in_.data(), static_cast<int>(in_.size() / 2));
        if (n == 0) return;
        // Room for what comes, whatever the rates: an output that fell this far
        // behind loses its oldest second, not the newest audio.
        const size_t most = static_cast<size_t>(n) * static_cast<size_t>(sink_.rate()) /
                                static_cast<size_t>(mixer_.outputRate()) + 64;
        if (level_ + most > capacity) {
            const size_t cut = std::min(level_, static_cast<size_t>(sink_.rate()));
            std::memmove(fifo_.data(), fifo_.data() + 2 * cut, 2 * (level_ - cut) * sizeof(float));
            level_ -= cut;
            dropped_ += cut;
        }
        if (!resampler_) {
            std::memcpy(fifo_.data() + 2 * level_, in_.data(), 2 * static_cast<size_t>(n) * sizeof(float));
            level_ += static_cast<size_t>(n);
            continue;
        }
        size_t used = 0, made = 0;
        soxr_process(resampler_, in_.data(), static_cast<size_t>(n), &used, fifo_.data() + 2 * level_,
                     capacity - level_, &made);
        level_ += made;
    }
}

void TapOutput::Run() {
    const size_t rate = static_cast<size_t>(sink_.rate());
    const size_t block = static_cast<size_t>(sink_.blockFrames());
    const size_t shortBlock = std::max<size_t>(1, rate / 200);  // 5 ms
    // What is kept waiting: enough for a sound card that hands over its mix in
    // pieces of 85 ms, and 30 ms to spare at the lowest.
    const size_t prime = block + rate * 120 / 1000;
    const size_t spare = rate * 30 / 1000;
    const size_t backlog = prime + rate / 2;
    Pacer pacer(std::chrono::nanoseconds(1000000000LL * static_cast<long long>(block) /
                                         static_cast<long long>(rate)));
    std::vector<float> out(2 * block);
    bool priming = true;
    size_t emptyFrames = 0;
    size_t lowest = SIZE_MAX;
    auto windowEnd = steady_clock::now() + std::chrono::seconds(2);
    auto take = [&](size_t frames) {
        std::memmove(fifo_.data(), fifo_.data() + 2 * frames, 2 * (level_ - frames) * sizeof(float));
        level_ -= frames;
    };
    while (!quit_) {
        Drain();
        if (priming && level_ >= prime) priming = false;
        if (priming) {
            std::fill(out.begin(), out.end(), 0.0f);
        } else if (level_ >= block) {
            std::memcpy(out.data(), fifo_.data(), 2 * block * sizeof(float));
            take(block);
            emptyFrames = 0;
        } else {
            // Short: what there is, then its last 5 ms again (silence when nothing
            // came at all). A mix that stays away a quarter second has stopped:
            // wait for a good store of it again.
            std::memcpy(out.data(), fifo_.data(), 2 * level_ * sizeof(float));
            const size_t have = level_;
            const size_t from = have > shortBlock ? have - shortBlock : 0;
            for (size_t i = have; i < block; ++i) {
                const size_t source = have > 0 ? from + (i - have) % (have - from) : SIZE_MAX;
                out[2 * i] = source == SIZE_MAX ? 0.0f : out[2 * source];
                out[2 * i + 1] = source == SIZE_MAX ? 0.0f : out[2 * source + 1];
            }
            if (have > 0) repeated_ += block - have;
            emptyFrames = have > 0 ? 0 : emptyFrames + block;
            level_ = 0;
            if (emptyFrames >= rate / 4) priming = true;
        }
        if (!priming) lowest = std::min(lowest, level_);
        const auto now = steady_clock::now();
        if (now >= windowEnd) {
            // More waiting than a pass of the mix needs, for a whole window: the
            // mix runs fast of this clock; 5 ms go.
            if (lowest != SIZE_MAX && lowest > spare + shortBlock) {
                take(shortBlock);
                dropped_ += shortBlock;
            }
            lowest = SIZE_MAX;
            windowEnd = now + std::chrono::seconds(2);
        }
        if (level_ > backlog) {  // a stall: back to real time at once
            dropped_ += level_ - prime;
            take(level_ - prime);
        }
        sink_.Consume(out.data(), static_cast<int>(block));
        if (const long long skipped = pacer.Wait(); skipped > 0) {
            sink_.Skip(static_cast<int>(skipped * static_cast<long long>(block)));
            const size_t gone = std::min(level_, static_cast<size_t>(skipped) * block);
            take(gone);
        }
    }
}

}  // namespace tw
