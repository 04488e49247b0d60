#pragma once

// One sound played once through the mixer: samples of its own (a recording's
// preview), or a sound streamed from its file.
//
// Threads: every public member is called on the main thread. The mixer's render
// (audio thread) reads the samples and the volume and moves the play cursor while
// the buffer is in the mixer's playing set; Play and Stop add and remove it under
// the mixer's lock, so outside that set only the main thread touches the state.

#include <soxr.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "LargeBlock.h"
#include "SoundStream.h"
#include "WaveFormat.h"

namespace tw {

class Mixer;

class SoundBuffer {
  public:
    // A silent buffer of its own, filled through Lock.
    SoundBuffer(Mixer& mixer, const WaveFormat& format, uint32_t bytes);
    // A buffer of `bytes` (in the stream's format) that plays the stream's samples,
    // then silence for the rest of its length. The stream must already be fed.
    SoundBuffer(Mixer& mixer, uint64_t bytes, std::shared_ptr<SoundStream> stream);
    ~SoundBuffer();  // stops the sound first
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    // The whole buffer for writing; Unlock ends the write. Both return 0; Lock on a
    // buffer that plays a file in place returns DSERR_INVALIDCALL.
    uint32_t Lock(uint8_t** region, uint32_t* bytes);
    uint32_t Unlock();
    // Plays once from the cursor; a buffer that played to its end starts again at 0.
    uint32_t Play();
    // Halts and keeps the cursor, so Play resumes there.
    uint32_t Stop();
    // Hundredths of a dB: 0 unchanged, -10000 silent.
    uint32_t SetVolume(int level);
    int GetVolume() const { return level_.load(); }
    // A gain in hundredths of a dB added to the volume, -40 to +12 dB: loudness
    // levelling of this one sound. Any thread.
    void SetTrim(int level);
    // Play cursor in bytes of the buffer's own format. A buffer past 4 GiB says it
    // scaled to 32 bits, as a share of 0xFFFFFFFF: use Position for the bytes.
    uint32_t GetCurrentPosition(uint32_t* playCursor) const;
    uint64_t Position() const { return cursorFrames_.load() * format_.blockAlign(); }
    // How long the stream has had nothing for the render, in frames at the output
    // rate: a read that falls behind leaves this sound silent meanwhile.
    uint64_t DryFrames() const { return dryFrames_.load(); }
    bool IsPlaying() const { return playing_.load(); }
    // The buffer played to its end since its last Play (it then stopped by itself,
    // with its cursor back at 0).
    bool HasFinished() const { return finished_.load(); }

    const WaveFormat& format() const { return format_; }
    uint64_t size() const { return size_; }

  private:
    friend class Mixer;
    // Audio thread: adds this sound into `out` (stereo, output rate); false once it
    // has played to its end.
    bool MixInto(float* out, int frames);
    // Converts from the cursor on: stereo, or one value a frame for `mono`. Sets
    // dry_ when the stream has not read that far yet.
    int ReadSource(float* dest, int maxFrames, bool mono);
    void Convert(const uint8_t* p, float* dest, int frames, bool mono) const;
    void Accumulate(float* out, const float* in, int frames);
    void AccumulateMono(float* out, const float* in, int frames);
    void PrepareResampler();     // main thread, before the sound starts
    int EffectiveLevel() const;  // the volume with the trim

    Mixer& mixer_;
    WaveFormat format_;
    LargeBlock own_;                       // a buffer's own samples, or
    std::shared_ptr<SoundStream> stream_;  // the file they stream from
    uint64_t size_;
    uint64_t fullSampleFrames_;  // frames of samples; the rest of the buffer is silence
    uint64_t fullTotalFrames_;
    uint64_t sampleFrames_;  // the same, less when a file ended early while it played
    uint64_t totalFrames_;
    bool streamUsed_ = false;  // the stream must start again for a new play

    std::atomic<uint64_t> cursorFrames_{0};
    std::atomic<uint64_t> dryFrames_{0};
    std::atomic<bool> playing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int> level_{0};
    std::atomic<int> trim_{0};

    // Audio thread state while playing.
    soxr_t resampler_ = nullptr;
    unsigned resampleChannels_ = 2;
    bool flushing_ = false;
    uint64_t readFrame_ = 0;  // next source frame to convert
    bool dry_ = false;
    int pending_ = 0;         // converted frames the resampler has not taken yet
    int pendingStart_ = 0;
    std::vector<float> source_;  // converted source frames, stereo
    std::vector<float> resampled_;
    int seenLevel_ = 0;
    float gain_ = 1.0f;
    float gainStep_ = 0.0f;
    int rampLeft_ = 0;
};

constexpr int kMaxTrim = 1200;  // +12 dB

// Linear gain for a level in hundredths of a dB (at most +12 dB).
float GainForLevel(int level);

}  // namespace tw
