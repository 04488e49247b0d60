#pragma once

// Finds the "fmt " and "data" chunks of a RIFF WAVE file held in memory.

#include <cstddef>
#include <cstdint>

#include "WaveFormat.h"

namespace tw {

struct WavInfo {
    WaveFormat format;
    size_t dataOffset = 0;
    size_t dataSize = 0;  // never reaches past the end of the file
};

// False for anything but a WAV the mixer can play: no "RIFF"/"WAVE", no format
// chunk before the data chunk, a format other than PCM or float (also inside
// WAVE_FORMAT_EXTENSIBLE), impossible channel counts, rates, widths or block sizes.
bool ParseWav(const uint8_t* bytes, size_t size, WavInfo& info);

}  // namespace tw
