// Feeds arbitrary bytes to the WAV parser; whatever it accepts must describe
// samples that lie inside the input and a format the mixer can play.
#include <cstdlib>

#include "WavParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::WavInfo info;
    if (tw::ParseWav(data, size, info)) {
        if (info.dataOffset > size || info.dataSize > size - info.dataOffset) std::abort();
        if (!info.format.IsPlayable() || info.dataSize % info.format.blockAlign() != 0)
            std::abort();
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < info.dataSize; ++i) sum = sum + data[info.dataOffset + i];
    }
    return 0;
}
