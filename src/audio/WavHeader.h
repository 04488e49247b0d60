#pragma once

#include <cstdint>

namespace tw {

// The canonical 44-byte header of a 16-bit PCM WAV file.
void WriteWavHeader16(uint8_t* header, int channels, uint32_t rate, uint32_t dataBytes);

}  // namespace tw
