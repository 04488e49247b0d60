#pragma once

// The render mode: the on-hold cycle on a virtual clock, written to a sound file
// instead of a sound output (by default 16-bit stereo WAV at 44100 Hz; telephony
// forms on request). Runs in the current working folder like the player itself.

#include <cstdint>
#include <string>

#include "Clock.h"
#include "SoundFileWriter.h"

namespace tw {

struct RenderOptions {
    std::string outPath;
    int64_t seconds = 0;
    LocalTime start;  // the virtual clock's start
    SoundFileFormat format;
    bool progress = false;  // a progress line on stderr
};

// 0 when N seconds were rendered; 2 (with a message on stderr) when OUT cannot be
// written or its type cannot hold the format.
int RenderRun(const RenderOptions& options);

}  // namespace tw
