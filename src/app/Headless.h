#pragma once

#include "SoundDevice.h"
#include "WebServer.h"

namespace tw {

// The player with no window: settings, "audio.cfg", device and playback exactly as
// the window has them; playing starts one second after start whatever the settings
// say. Boxes print to stderr. SIGINT and SIGTERM stop it cleanly. Returns the exit
// code. Needs a QCoreApplication. A sink (OutputMode::Sink) outlives the run.
// With `web`, the web console too.
int RunHeadless(OutputMode output, const std::vector<PcmSink*>& sinks = {},
                const WebOptions* web = nullptr);

}  // namespace tw
