#include "SoundBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "Mixer.h"

namespace tw {
namespace {

constexpr int kChunk = 1024;  // frames converted or resampled at a time

inline int32_t Read24(const uint8_t* p) {
    int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v ^ 0x800000) - 0x800000;
}

inline int32_t Read32(const uint8_t* p) {
    uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(v);
}

template <int Bits, bool Float>
inline float ReadSample(const uint8_t* p) {
    if constexpr (Bits == 8) {
        return (static_cast<int>(p[0]) - 128) * (1.0f / 128.0f);
    } else if constexpr (Bits == 16) {
        return static_cast<int16_t>(p[0] | (p[1] << 8)) * (1.0f / 32768.0f);
    } else if constexpr (Bits == 24) {
        return static_cast<float>(Read24(p)) * (1.0f / 8388608.0f);
    } else if constexpr (Float) {
        float v;
        std::memcpy(&v, p, 4);
        // Infinities and NaN become silence, and absurd values are held to 36 dB
        // over full scale, so that the resampler's arithmetic cannot overflow.
        if (!std::isfinite(v)) return 0.0f;
        return std::clamp(v, -64.0f, 64.0f);
    } else {
        return static_cast<float>(Read32(p)) * (1.0f / 2147483648.0f);
    }
}

// Converts `frames` frames to float: mono stays mono when `keepMono`, else goes
// to both sides; the first two channels of anything wider.
template <int Bits, bool Float>
void Convert(const uint8_t* p, int align, int channels, float* dest, int frames, bool keepMono) {
    constexpr int width = Bits / 8;
    if (channels == 1 && keepMono) {
        for (int i = 0; i < frames; ++i, p += align) dest[i] = ReadSample<Bits, Float>(p);
    } else if (channels == 1) {
        for (int i = 0; i < frames; ++i, p += align)
            dest[2 * i] = dest[2 * i + 1] = ReadSample<Bits, Float>(p);
    } else {
        for (int i = 0; i < frames; ++i, p += align) {
            dest[2 * i] = ReadSample<Bits, Float>(p);
            dest[2 * i + 1] = ReadSample<Bits, Float>(p + width);
        }
    }
}

}  // namespace

float GainForLevel(int level) {
    if (level <= -10000) return 0.0f;
    if (level == 0) return 1.0f;
    return static_cast<float>(std::pow(10.0, std::min(level, kMaxTrim) / 2000.0));
}

SoundBuffer::SoundBuffer(Mixer& mixer, const WaveFormat& format, uint32_t bytes)
    : mixer_(mixer),
      format_(format),
      own_(bytes),
      size_(bytes),
      fullSampleFrames_(format.blockAlign() ? bytes / format.blockAlign() : 0),
      fullTotalFrames_(fullSampleFrames_),
      sampleFrames_(fullSampleFrames_),
      totalFrames_(fullTotalFrames_),
      source_(2 * kChunk),
      resampled_(2 * kChunk) {
    // Silence is 0x80 in 8-bit unsigned samples, 0 (as allocated) in the others.
    if (format.bitsPerSample == 8) std::memset(own_.data(), 0x80, bytes);
}

SoundBuffer::SoundBuffer(Mixer& mixer, uint64_t bytes, std::shared_ptr<SoundStream> stream)
    : mixer_(mixer),
      format_(stream->format()),
      stream_(std::move(stream)),
      size_(bytes),
      fullSampleFrames_(std::min<uint64_t>(stream_->frames(), bytes / format_.blockAlign())),
      fullTotalFrames_(bytes / format_.blockAlign()),
      sampleFrames_(fullSampleFrames_),
      totalFrames_(fullTotalFrames_),
      source_(2 * kChunk),
      resampled_(2 * kChunk) {}

SoundBuffer::~SoundBuffer() {
    Stop();
    if (resampler_) soxr_delete(resampler_);
}

uint32_t SoundBuffer::Lock(uint8_t** region, uint32_t* bytes) {
    if (stream_) return 0x88780032;  // DSERR_INVALIDCALL: the samples belong to the file
    *region = own_.data();
    *bytes = size();
    return 0;
}

uint32_t SoundBuffer::Unlock() {
    return 0;
}

void SoundBuffer::PrepareResampler() {
    if (resampler_) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    if (static_cast<int>(format_.samplesPerSec) == mixer_.outputRate()) return;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    // A mono sound is resampled as one channel, then played on both sides.
    resampleChannels_ = format_.channels == 1 ? 1 : 2;
    resampler_ = soxr_create(format_.samplesPerSec, mixer_.outputRate(), resampleChannels_, &error,
                             &io, &quality, nullptr);
    if (error) resampler_ = nullptr;
}

uint32_t SoundBuffer::Play() {
    mixer_.Remove(this);  // from here on the audio thread leaves this buffer alone
    finished_ = false;
    if (readFrame_ >= totalFrames_) {
        readFrame_ = 0;
        pending_ = 0;
    }
    if (readFrame_ == 0 && pending_ == 0) {
        if (stream_ && streamUsed_) stream_->Restart();
        streamUsed_ = false;
        sampleFrames_ = fullSampleFrames_;
        totalFrames_ = fullTotalFrames_;
        dryFrames_ = 0;
        PrepareResampler();
        flushing_ = false;
        seenLevel_ = EffectiveLevel();
        gain_ = GainForLevel(seenLevel_);
        rampLeft_ = 0;
    }
    playing_ = true;
    mixer_.Add(this);
    return 0;
}

uint32_t SoundBuffer::Stop() {
    mixer_.Remove(this);
    playing_ = false;
    return 0;
}

int SoundBuffer::EffectiveLevel() const {
    const int volume = level_.load(std::memory_order_relaxed);
    return volume <= -10000 ? volume : volume + trim_.load(std::memory_order_relaxed);
}

void SoundBuffer::SetTrim(int level) {
    trim_ = std::clamp(level, -4000, kMaxTrim);
}

uint32_t SoundBuffer::SetVolume(int level) {
    level_ = std::clamp(level, -10000, 0);
    return 0;
}

uint32_t SoundBuffer::GetCurrentPosition(uint32_t* playCursor) const {
    const uint64_t bytes = Position();
    *playCursor = size_ <= 0xFFFFFFFFull
                      ? static_cast<uint32_t>(bytes)
                      : static_cast<uint32_t>(static_cast<unsigned __int128>(bytes) * 0xFFFFFFFFull /
                                              size_);
    return 0;
}

void SoundBuffer::Convert(const uint8_t* p, float* dest, int frames, bool mono) const {
    const int align = format_.blockAlign();
    const int ch = format_.channels;
    switch (format_.bitsPerSample) {
        case 8:
            tw::Convert<8, false>(p, align, ch, dest, frames, mono);
            break;
        case 16:
            tw::Convert<16, false>(p, align, ch, dest, frames, mono);
            break;
        case 24:
            tw::Convert<24, false>(p, align, ch, dest, frames, mono);
            break;
        default:
            if (format_.formatTag == kFormatFloat)
                tw::Convert<32, true>(p, align, ch, dest, frames, mono);
            else
                tw::Convert<32, false>(p, align, ch, dest, frames, mono);
    }
}

int SoundBuffer::ReadSource(float* dest, int maxFrames, bool mono) {
    int frames = static_cast<int>(std::min<uint64_t>(maxFrames, totalFrames_ - readFrame_));
    const int width = mono ? 1 : 2;
    // Past the samples the buffer is silent.
    int sampled = readFrame_ >= sampleFrames_
                      ? 0
                      : static_cast<int>(std::min<uint64_t>(frames, sampleFrames_ - readFrame_));
    if (!stream_) {
        Convert(own_.data() + readFrame_ * format_.blockAlign(), dest, sampled, mono);
    } else {
        int got = 0;
        while (got < sampled) {
            const uint8_t* at = nullptr;
            const int n = static_cast<int>(stream_->Peek(&at, sampled - got));
            if (n <= 0) break;
            Convert(at, dest + width * got, n, mono);
            stream_->Consume(n);
            got += n;
        }
        if (got > 0) streamUsed_ = true;
        if (got < sampled) {
            if (stream_->Ended()) {
                // The file ended before it said it would (cut short while it
                // played): the sound ends there.
                sampleFrames_ = totalFrames_ = readFrame_ + static_cast<uint64_t>(got);
            } else {
                dry_ = true;  // not read yet: silence for this sound until it is
            }
            frames = sampled = got;
        }
    }
    std::fill(dest + width * sampled, dest + width * frames, 0.0f);
    readFrame_ += static_cast<uint64_t>(frames);
    return frames;
}

void SoundBuffer::Accumulate(float* out, const float* in, int frames) {
    int i = 0;
    for (; i < frames && rampLeft_ > 0; ++i) {
        gain_ += gainStep_;
        if (--rampLeft_ == 0) gain_ = GainForLevel(seenLevel_);
        out[2 * i] += in[2 * i] * gain_;
        out[2 * i + 1] += in[2 * i + 1] * gain_;
    }
    const float g = gain_;
    for (int k = 2 * i; k < 2 * frames; ++k) out[k] += in[k] * g;
}

void SoundBuffer::AccumulateMono(float* out, const float* in, int frames) {
    int i = 0;
    for (; i < frames && rampLeft_ > 0; ++i) {
        gain_ += gainStep_;
        if (--rampLeft_ == 0) gain_ = GainForLevel(seenLevel_);
        out[2 * i] += in[i] * gain_;
        out[2 * i + 1] += in[i] * gain_;
    }
    const float g = gain_;
    for (; i < frames; ++i) {
        const float v = in[i] * g;
        out[2 * i] += v;
        out[2 * i + 1] += v;
    }
}

bool SoundBuffer::MixInto(float* out, int frames) {
    const int level = EffectiveLevel();
    if (level != seenLevel_) {
        // A new level is reached over at most 5 ms, so fade steps never click.
        seenLevel_ = level;
        rampLeft_ = std::max(1, mixer_.rampFrames());
        gainStep_ = (GainForLevel(level) - gain_) / static_cast<float>(rampLeft_);
    }
    int produced = 0;
    bool ended = false;
    dry_ = false;
    while (produced < frames && !ended && !dry_) {
        const int want = std::min(kChunk, frames - produced);
        if (!resampler_) {
            const int got = ReadSource(source_.data(), want, false);
            Accumulate(out + 2 * produced, source_.data(), got);
            produced += got;
            ended = readFrame_ >= totalFrames_;
            continue;
        }
        if (pending_ == 0 && !flushing_) {
            pendingStart_ = 0;
            pending_ = ReadSource(source_.data(), kChunk, resampleChannels_ == 1);
            if (pending_ == 0 && dry_) break;
            if (pending_ == 0) flushing_ = true;
        }
        size_t used = 0, made = 0;
        if (!flushing_) {
            soxr_process(resampler_, source_.data() + resampleChannels_ * pendingStart_, pending_,
                         &used, resampled_.data(), want, &made);
        } else {
            soxr_process(resampler_, nullptr, 0, nullptr, resampled_.data(), want, &made);
            ended = made == 0;
        }
        pendingStart_ += static_cast<int>(used);
        pending_ -= static_cast<int>(used);
        if (resampleChannels_ == 1)
            AccumulateMono(out + 2 * produced, resampled_.data(), static_cast<int>(made));
        else
            Accumulate(out + 2 * produced, resampled_.data(), static_cast<int>(made));
        produced += static_cast<int>(made);
    }
    if (ended) {
        readFrame_ = 0;
        pending_ = 0;
        flushing_ = false;
        cursorFrames_ = 0;
        playing_ = false;
        finished_ = true;
        return false;
    }
    cursorFrames_ = readFrame_ - static_cast<uint64_t>(pending_);
    if (dry_)
        dryFrames_.fetch_add(static_cast<uint64_t>(frames - produced), std::memory_order_relaxed);
    else
        dryFrames_.store(0, std::memory_order_relaxed);
    return true;
}

}  // namespace tw
