#pragma once

#include <cstdint>

namespace tw {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;

// A buffer's sample layout: PCM (8-bit unsigned, 16-, 24- or 32-bit signed) or
// 32-bit float, any number of channels, of which the first two are played.
struct WaveFormat {
    uint16_t formatTag = kFormatPcm;
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint16_t bitsPerSample = 16;
    uint16_t blockAlign() const { return static_cast<uint16_t>(channels * bitsPerSample / 8); }
    bool IsPlayable() const;
};

inline bool WaveFormat::IsPlayable() const {
    if (channels < 1 || channels > 32) return false;
    if (samplesPerSec < 1000 || samplesPerSec > 768000) return false;
    if (formatTag == kFormatFloat) return bitsPerSample == 32;
    if (formatTag != kFormatPcm) return false;
    return bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32;
}

}  // namespace tw
