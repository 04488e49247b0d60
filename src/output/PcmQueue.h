#pragma once

// 16-bit audio handed from the pacing thread to a thread that may wait on a reader
// or a network. Bounded: when the reader falls behind, the oldest audio is dropped,
// so the live sound never drifts behind real time and the pacing thread never
// waits longer than it takes to copy one block.
//
// Threads: Push from one producer, Pop from one consumer, Close from any.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace tw {

using PcmBlock = std::vector<int16_t>;

// `frames` stereo float frames (in [-1, 1]) as 16-bit samples of `channels` (1: the
// two sides averaged, 2: as they are), into `out`.
void MixToPcm16(const float* stereo, int frames, int channels, int16_t* out);

// A packet output's blocks of `block` mono 16-bit frames, whatever the sizes the
// mix comes in: `pending` keeps what waits for a whole block; `whole` gets each.
template <typename Whole>
void MixToMonoBlocks(const float* stereo, int frames, int block, std::vector<int16_t>& pending,
                     Whole&& whole) {
    while (frames > 0) {
        const int have = static_cast<int>(pending.size());
        const int take = frames < block - have ? frames : block - have;
        pending.resize(static_cast<size_t>(have + take));
        MixToPcm16(stereo, take, 1, pending.data() + have);
        stereo += 2 * take;
        frames -= take;
        if (static_cast<int>(pending.size()) == block) {
            whole(pending.data());
            pending.clear();
        }
    }
}

class PcmQueue {
  public:
    explicit PcmQueue(size_t maxSamples) : maxSamples_(maxSamples) {}
    void Push(PcmBlock block);
    // `frames` stereo float frames as interleaved 16-bit samples of `channels` (1: the
    // two sides averaged, 2: as they are).
    void PushMix(const float* stereo, int frames, int channels);
    // Waits up to `timeoutMs` for a block; false on timeout or once closed.
    bool Pop(PcmBlock& block, int timeoutMs);
    void Clear();
    void Close();
    bool closed() const;
    uint64_t droppedSamples() const;

  private:
    const size_t maxSamples_;
    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::deque<PcmBlock> blocks_;
    size_t samples_ = 0;
    uint64_t dropped_ = 0;
    bool closed_ = false;
};

}  // namespace tw
