// Feeds arbitrary text to the "audio.cfg" reader. Whatever it makes of it must
// save to a text that reads back to the same configuration.
#include <cstdlib>
#include <string>

#include "AudioConfig.h"
#include "Clock.h"
#include "MessageBox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tw::VirtualClock clock({2026, 12, 7, 12, 0, 0});
    tw::RecordingMessageBox boxes;
    tw::AudioConfig config(clock, boxes);
    config.LoadText(std::string(reinterpret_cast<const char*>(data), size));
    for (const tw::TrackList* list : {&config.music, &config.voice})
        for (const tw::Track& t : list->tracks)
            if (t.name.size() > tw::kMaxNameLength || t.name.empty() || t.name[0] == '.')
                std::abort();
    const std::string saved = config.SaveText();
    tw::AudioConfig again(clock, boxes);
    again.LoadText(saved);
    if (again.SaveText() != saved) std::abort();
    return 0;
}
