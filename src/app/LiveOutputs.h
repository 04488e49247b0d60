#pragma once

// The live outputs a headless player (or a window) plays to, made from the
// settings: the sound card, or nothing in real time, and beside them a pipe, an
// Icecast stream and an RTP stream. Main thread, at start-up.

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "PcmSink.h"
#include "SoundDevice.h"

namespace tw {

struct LiveOutputs {
    OutputMode mode = OutputMode::Device;
    std::vector<std::unique_ptr<PcmSink>> owned;
    std::vector<PcmSink*> sinks;
};

// "device,rtp" into its names; false with why: an unknown name, one given twice,
// null beside another, an empty list or an empty name.
bool ParseOutputList(const std::string& text, std::vector<std::string>& names, std::string& why);

// Makes the outputs the settings name (a host resolved, a socket opened). An
// output from tonewell.conf that cannot be made is said and left out, and the
// others play; false (status 2) for a bad one from the command line, in
// `settings.problem()` or `problem`, or when nothing of the file's list can play.
bool MakeLiveOutputs(Settings& settings, bool headless, LiveOutputs& out, std::string& problem);

}  // namespace tw
