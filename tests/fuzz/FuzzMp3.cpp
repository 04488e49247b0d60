// Feeds arbitrary bytes to the MP3 loader as a file: it must never crash, and
// what it accepts must say sizes that agree with themselves and play to its end.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "LoadSound.h"
#include "Mixer.h"

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
        if (!sound.stream || info.dataOffset != 44 || info.dataOffset + info.dataSize != sound.size ||
            info.format.bitsPerSample != 16)
            std::abort();
        // Rendered inline to its end: never past what it promised.
        tw::Mixer mixer(static_cast<int>(sound.info.format.samplesPerSec));
        sound.stream->FeedInline();
        tw::SoundBuffer buffer(mixer, sound.size, sound.stream);
        float out[2 * 4096];
        buffer.Play();
        uint64_t rendered = 0;
        const uint64_t promised = sound.size / sound.info.format.blockAlign();
        while (buffer.IsPlaying() && rendered < promised + 8192) {
            mixer.Render(out, 4096);
            rendered += 4096;
        }
        if (buffer.IsPlaying()) std::abort();
    } else if (sound.error.empty()) {
        std::abort();
    }
    return 0;
}
