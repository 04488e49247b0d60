// Loads one file with LoadSound, as a preload would, and exits: timed against
// mpg123 by bench/mp3-vs-mpg123.
#include <cstdio>
#include <memory>

#include "LoadSound.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_loadsound FILE\n");
        return 2;
    }
    tw::ConsoleMessageBox boxes;
    std::unique_ptr<tw::SoundDevice> device;
    tw::SoundDevice::Create(nullptr, tw::OutputMode::Direct, device, 44100);
    std::unique_ptr<tw::SoundBuffer> buffer;
    std::shared_ptr<tw::SoundData> data;
    uint32_t size = 0;
    return tw::LoadSound(buffer, data, argv[1], size, device.get(), boxes) && buffer ? 0 : 1;
}
