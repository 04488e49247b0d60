#include "WavHeader.h"

#include <cstring>

#include "LittleEndian.h"

namespace tw {

void WriteWavHeader16(uint8_t* h, int channels, uint32_t rate, uint32_t dataBytes) {
    const uint32_t align = static_cast<uint32_t>(channels) * 2;
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, static_cast<uint32_t>(channels));
    PutLe32(h + 24, rate);
    PutLe32(h + 28, rate * align);
    PutLe16(h + 32, align);
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataBytes);
}

}  // namespace tw
