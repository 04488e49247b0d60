#include "PcmQueue.h"

#include <chrono>
#include <cmath>

namespace tw {

void MixToPcm16(const float* stereo, int frames, int channels, int16_t* out) {
    auto pcm = [](float v) { return static_cast<int16_t>(std::lround(v * 32767.0f)); };
    for (int i = 0; i < frames; ++i) {
        if (channels == 1) {
            out[i] = pcm(0.5f * (stereo[2 * i] + stereo[2 * i + 1]));
        } else {
            out[2 * i] = pcm(stereo[2 * i]);
            out[2 * i + 1] = pcm(stereo[2 * i + 1]);
        }
    }
}

void PcmQueue::PushMix(const float* stereo, int frames, int channels) {
    PcmBlock out(static_cast<size_t>(frames) * channels);
    MixToPcm16(stereo, frames, channels, out.data());
    Push(std::move(out));
}

void PcmQueue::Push(PcmBlock block) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (closed_) return;
        samples_ += block.size();
        blocks_.push_back(std::move(block));
        while (samples_ > maxSamples_ && blocks_.size() > 1) {
            samples_ -= blocks_.front().size();
            dropped_ += blocks_.front().size();
            blocks_.pop_front();
        }
    }
    ready_.notify_one();
}

bool PcmQueue::Pop(PcmBlock& block, int timeoutMs) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!ready_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                         [this] { return closed_ || !blocks_.empty(); }))
        return false;
    if (closed_) return false;
    block = std::move(blocks_.front());
    blocks_.pop_front();
    samples_ -= block.size();
    return true;
}

void PcmQueue::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    dropped_ += samples_;
    blocks_.clear();
    samples_ = 0;
}

void PcmQueue::Close() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        closed_ = true;
    }
    ready_.notify_all();
}

bool PcmQueue::closed() const {
    std::lock_guard<std::mutex> hold(lock_);
    return closed_;
}

uint64_t PcmQueue::droppedSamples() const {
    std::lock_guard<std::mutex> hold(lock_);
    return dropped_;
}

}  // namespace tw
