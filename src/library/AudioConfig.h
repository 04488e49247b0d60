#pragma once

// Everything the program knows about what to play: the Voice Messages and Music
// Tracks lists and the first-run flag, kept in "audio.cfg". Main thread only.

#include <string>

#include "Clock.h"
#include "MessageBox.h"
#include "TrackList.h"

namespace tw {

class AudioConfig {
  public:
    AudioConfig(const Clock& clock, MessageBox& boxes);
    // Deep copy of the lists and settings; orders empty, positions 0.
    AudioConfig(const AudioConfig& other);
    AudioConfig& operator=(const AudioConfig&) = delete;

    // Rereads "audio.cfg", copying "default.cfg" to it first when it is missing.
    void Load();
    // Writes "audio.cfg" through a temporary file; false (logged) when that failed,
    // in which case the old file is left as it was.
    bool Save() const;
    // Writes "playlist.xml" with the tracks that may play now.
    bool ExportPlaylist() const;
    // The text Save writes.
    std::string SaveText() const;

    void SetVolumeAndSave(bool isMusic, int volume);
    void ResetPositions();
    bool RefreshScheduleFlags();

    bool firstRun = false;
    TrackList music;
    TrackList voice;

  private:
    void LoadList(class ConfigTextReader& reader, TrackList& list);
    const Clock& clock_;
    MessageBox& boxes_;
};

}  // namespace tw
