#include "WavParser.h"

#include <cstring>

namespace tw {
namespace {

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool ParseWav(const uint8_t* bytes, size_t size, WavInfo& info) {
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return false;
    bool haveFormat = false;
    uint16_t storedAlign = 0;
    size_t pos = 12;
    while (size - pos >= 8) {
        const uint8_t* chunk = bytes + pos;
        const uint32_t chunkSize = U32(chunk + 4);
        const size_t body = pos + 8;
        const size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (chunkSize < 16 || chunkSize > available) return false;
            const uint8_t* f = bytes + body;
            uint16_t tag = U16(f);
            if (tag == 0xFFFE) {  // WAVE_FORMAT_EXTENSIBLE: the subformat says what it is
                if (chunkSize < 40) return false;
                tag = U16(f + 24);
            }
            info.format.formatTag = tag;
            info.format.channels = U16(f + 2);
            info.format.samplesPerSec = U32(f + 4);
            storedAlign = U16(f + 12);
            info.format.bitsPerSample = U16(f + 14);
            if (storedAlign == 0 || !info.format.IsPlayable()) return false;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return false;
            const size_t align = info.format.blockAlign();
            info.dataOffset = body;
            if (chunkSize <= available) {
                if (chunkSize % align != 0) return false;
                info.dataSize = chunkSize;
            } else {
                // Cut short (or of unknown length): whole frames of what is there.
                info.dataSize = available - available % align;
            }
            return true;
        }
        if (chunkSize > available) return false;
        pos = body + chunkSize + (chunkSize & 1);
        if (pos > size) return false;
    }
    return false;
}

}  // namespace tw
