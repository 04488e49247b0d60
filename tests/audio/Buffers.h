#pragma once

// A sound buffer made on a device and filled with samples, for tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "SoundDevice.h"
#include "Wav.h"

namespace tw::test {

inline std::unique_ptr<SoundBuffer> FilledBuffer(SoundDevice& device, const WavSpec& spec,
                                                 const std::vector<uint8_t>& samples) {
    std::unique_ptr<SoundBuffer> b;
    EXPECT_EQ(
        device.CreateSoundBuffer(WaveFormat{spec.formatTag, spec.channels, spec.rate, spec.bits},
                                 static_cast<uint32_t>(samples.size()), b),
        DS_OK);
    if (!b) return b;
    uint8_t* region;
    uint32_t bytes;
    b->Lock(&region, &bytes);
    std::copy(samples.begin(), samples.end(), region);
    b->Unlock();
    return b;
}

// A sine of `hz` for `seconds`.
inline std::unique_ptr<SoundBuffer> ToneBuffer(SoundDevice& device, const WavSpec& spec, double hz,
                                               double seconds, double amplitude) {
    return FilledBuffer(device, spec,
                        SineSamples(spec, hz, amplitude, static_cast<int>(spec.rate * seconds)));
}

}  // namespace tw::test
