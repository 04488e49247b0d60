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
    // When the copy cannot be made, "default.cfg" is read as it is and
    // `copyProblem` says why; nothing is then read as a first run.
    void Load();
    // Reads a configuration held in memory, as Load reads the file.
    void LoadText(std::string text);
    // Writes "audio.cfg" through a temporary file; false (logged) when that failed,
    // in which case the old file is left as it was.
    bool Save(std::string* why = nullptr);
    // Writes "playlist.xml" with the tracks that may play now.
    bool ExportPlaylist() const;
    // The text Save writes.
    std::string SaveText() const;
    // Whether `text` is a whole "audio.cfg": "" when it is, else "line N: what is
    // wrong". The reader itself forgives much (a first start must play
    // something); a file that changes under a running player must pass this
    // first, so that a half-written or mistyped file never replaces lists that play.
    static std::string CheckText(const std::string& text);

    // Saves only a configuration that was read from a file: one that never was
    // must not be written over a "default.cfg" restored later. False when a save
    // was due and failed (`why` receives the reason).
    bool SetVolumeAndSave(bool isMusic, int volume, std::string* why = nullptr);
    void ResetPositions();
    bool RefreshScheduleFlags();

    bool firstRun = false;
    bool loaded = false;      // a configuration file was read by the last Load
    std::string copyProblem;  // why "default.cfg" could not become "audio.cfg"
    // The text of "audio.cfg" these lists were read from or last saved as: what a
    // save must still find on disk, so that it never writes over a newer file.
    std::string loadedText;
    TrackList music;
    TrackList voice;

  private:
    void Read(class ConfigTextReader& reader);
    void LoadList(class ConfigTextReader& reader, TrackList& list);
    const Clock& clock_;
    MessageBox& boxes_;
};

}  // namespace tw
