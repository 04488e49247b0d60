#pragma once

// A working copy of both track lists with every edit that a user may make to them,
// from the Manage Audio dialog or the web console: add, delete a selection, clear,
// move, gaps, volumes, play order, one schedule for a selection, what the schedules
// leave silent, and the save.
//
// A save names the "audio.cfg" it started from: when the file changed meanwhile
// (another window or page saved first), nothing is written and the user is told
// to reload, so that no edit is merged or lost silently.
//
// Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "AudioConfig.h"

namespace tw {

extern const char* const kListsChangedElsewhere;  // "The lists were changed elsewhere; ..."

// The most tracks a list holds: far past any office's music, and small enough
// that every edit and save stays quick on the main thread.
constexpr size_t kMaxListTracks = 10000;

class ListsEditor {
  public:
    // A copy of `config` (what plays now), based on the "audio.cfg" it was read from.
    explicit ListsEditor(const AudioConfig& config);

    AudioConfig& config() { return *working_; }
    const AudioConfig& config() const { return *working_; }
    TrackList& List(bool isMusic) { return isMusic ? working_->music : working_->voice; }
    // The version this copy started from, and the one on disk now.
    const std::string& baseVersion() const { return working_->loadedText; }
    static std::string CurrentVersion();

    // Appends stored names ("sounds\Music Tracks\Cat\a.wav"); false, with nothing
    // added, for a name that is not a file of the list's kind under "sounds", is
    // too long or holds a control character, or when the list would pass
    // kMaxListTracks.
    // `namesChecked`: CheckNames passed them a moment ago (off the main thread).
    bool Add(bool isMusic, const std::vector<std::string>& names, std::string& why,
             bool namesChecked = false);
    // What Add asks of each name, the files included; no list is needed, and any
    // thread may ask.
    static bool CheckNames(bool isMusic, const std::vector<std::string>& names, std::string& why);
    // Deletes the rows (any order, repeats allowed; rows past the end are ignored).
    void Remove(bool isMusic, std::vector<int> rows);
    // Moves one row up (step -1) or down (+1); false when it cannot move.
    bool Move(bool isMusic, int row, int step);
    void Clear(bool isMusic);
    // The gap is one of the dialog's choices, the volume 0 to 10, the order 0 (in
    // order) or 1 (at random); false for anything else.
    bool SetGap(bool isMusic, int seconds);
    bool SetVolume(bool isMusic, int volume);
    bool SetOrder(bool isMusic, int random);
    // One schedule for every row given; false for a date or time that does not
    // exist (31 February, 25:00) or a row past the end.
    bool ApplySchedule(bool isMusic, const std::vector<int>& rows, const TrackSchedule& schedule,
                       std::string& why);
    // "No music from 17:01 to 09:00 every day." for the year from `now`.
    std::string CoverageText(bool isMusic, const LocalTime& now) const;

    enum class Saved { Ok, Conflict, Failed };
    // Writes "audio.cfg" unless it changed since this copy was made; `why` says
    // what went wrong.
    Saved Save(std::string& why);

  private:
    std::unique_ptr<AudioConfig> working_;
};

}  // namespace tw
