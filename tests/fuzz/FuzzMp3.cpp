// Feeds arbitrary bytes to the MP3 loader as a file: it must never crash, never
// ask for more memory than the file can hold, and what it accepts must be a WAV
// image whose sizes agree with themselves.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "LoadSound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz-mp3-XXXXXX";
        const std::string made = mkdtemp(pattern);
        if (chdir(made.c_str()) != 0) std::abort();
        return made;
    }();
    std::FILE* f = std::fopen("input.mp3", "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    tw::LoadedSound sound;
    if (tw::ReadSound("input.mp3", sound)) {
        const tw::WavInfo& info = sound.info;
        if (sound.size != sound.data->fileSize() || info.dataOffset != 44 ||
            info.dataOffset + info.dataSize > sound.size || info.format.bitsPerSample != 16)
            std::abort();
    } else if (sound.error.empty()) {
        std::abort();
    }
    return 0;
}
