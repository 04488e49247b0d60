#pragma once

// The render mode: the on-hold cycle on a virtual clock, written to a WAV file
// (16-bit stereo, 44100 Hz) instead of a sound output. Runs in the current
// working folder like the player itself.

#include <cstdint>
#include <string>

#include "Clock.h"

namespace tw {

struct RenderOptions {
    std::string outPath;
    int64_t seconds = 0;
    LocalTime start;  // the virtual clock's start
};

// 0 when N seconds were rendered; 2 (with a message on stderr) when OUT cannot be
// written.
int RenderRun(const RenderOptions& options);

}  // namespace tw
