#pragma once

// One playlist: tracks in the user's order, its gap, volume and play order, and
// the choice of the next track. Main thread only.

#include <string>
#include <vector>

#include "Clock.h"
#include "TrackSchedule.h"

namespace tw {

constexpr size_t kMaxNameLength = 255;
constexpr const char* kMusicPrefix = "sounds\\Music Tracks\\";    // 20 characters
constexpr const char* kVoicePrefix = "sounds\\Voice Messages\\";  // 22 characters
constexpr size_t kMusicPrefixLength = 20;
constexpr size_t kVoicePrefixLength = 22;

// Whether a name holds a control character (C0 or DEL): such a name would break
// "audio.cfg" apart (a line end) or cut it short (a NUL), and is never listed.
bool HasControlCharacter(const std::string& name);

// The category and file name, as the lists show a track: the stored name without
// its kind folder ("Jazz\Blue Evening.mp3").
std::string ShownTrackName(const std::string& stored, bool isMusic);

struct Track {
    std::string name;
    TrackSchedule schedule;
    bool inSchedule = true;
};

class TrackList {
  public:
    explicit TrackList(const Clock& clock) : clock_(&clock) {}

    bool HasTracks() const { return !tracks.empty(); }
    bool TrackName(size_t index, std::string& name) const;
    // Appends a track; false (and nothing added) for a name over 255 characters.
    // Otherwise returns whether the track is in schedule now.
    bool AddTrack(const std::string& name, const TrackSchedule& schedule);
    void RemoveTrack(size_t index);
    void MoveUp(size_t index);
    void MoveDown(size_t index);
    void Clear();
    void SetGapSeconds(int seconds) { gapSeconds = seconds; }
    int GapSeconds() const { return gapSeconds; }
    void SetRandom(int value) { random = value; }
    // The next track to play, skipping tracks out of schedule now. passIndex is the
    // number of tracks handed out earlier in the current pass.
    bool NextTrack(std::string& name, int& passIndex);
    void ResetPosition() {
        position = 0;
        passCount = 0;
    }
    int CountInSchedule() const;
    // Recomputes the cached flags; true if any changed.
    bool RefreshScheduleFlags();
    // Identity order, shuffled with rand() when the list plays at random.
    void BuildOrder();

    const Clock& clock() const { return *clock_; }

    std::vector<Track> tracks;
    int gapSeconds = 0;
    int volume = 10;
    int random = 0;
    std::vector<int> order;
    int position = 0;
    int passCount = 0;

  private:
    const Clock* clock_;
};

}  // namespace tw
