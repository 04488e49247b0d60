#include "ListsEditor.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "AtomicFile.h"
#include "Clock.h"
#include "Paths.h"
#include "ScheduleCoverage.h"
#include "SoundsFolder.h"

namespace tw {

const char* const kListsChangedElsewhere =
    "The lists were changed elsewhere; reload to see them";

namespace {

bool RealDate(const DateOrTime& d) {
    return d.First() <= 9999 && IsRealLocalTime({d.First(), d.Second(), d.Third(), 0, 0, 0});
}

bool RealTime(const DateOrTime& t) {
    return IsRealLocalTime({1970, 1, 1, t.First(), t.Second(), t.Third()});
}

}  // namespace

ListsEditor::ListsEditor(const AudioConfig& config)
    : working_(std::make_unique<AudioConfig>(config)) {
    // The file these lists came from: a save over anything newer is refused.
    if (!config.loaded) working_->loadedText = CurrentVersion();
}

std::string ListsEditor::CurrentVersion() {
    // The file's own text is its version: small, and any save that changes a
    // list changes it.
    std::string text;
    return ReadWholeFile("audio.cfg", text) ? text : std::string();
}

bool ListsEditor::CheckNames(bool isMusic, const std::vector<std::string>& names, std::string& why) {
    const std::string prefix = isMusic ? kMusicPrefix : kVoicePrefix;
    if (names.size() > kMaxListTracks) {
        why = "a list holds at most " + std::to_string(kMaxListTracks) + " tracks";
        return false;
    }
    for (const std::string& name : names) {
        if (HasControlCharacter(name)) {
            why = "a track name has no control characters";
            return false;
        }
        if (name.compare(0, prefix.size(), prefix) != 0 || !StaysUnder(name, "sounds") ||
            name.size() > kMaxNameLength) {
            why = "not a " + std::string(isMusic ? "music track" : "voice message") + ": " + name;
            return false;
        }
        const int fd = StaysInSoundsFolder(name) ? OpenRegularFile(NativePath(name)) : -1;
        if (fd < 0) {
            why = "no such file: " + name;
            return false;
        }
        ::close(fd);
    }
    return true;
}

bool ListsEditor::Add(bool isMusic, const std::vector<std::string>& names, std::string& why,
                      bool namesChecked) {
    if (List(isMusic).tracks.size() + names.size() > kMaxListTracks) {
        why = "a list holds at most " + std::to_string(kMaxListTracks) + " tracks";
        return false;
    }
    if (!namesChecked && !CheckNames(isMusic, names, why)) return false;
    TrackList& list = List(isMusic);
    for (const std::string& name : names) list.AddTrack(name, TrackSchedule::New(list.clock()));
    return true;
}

void ListsEditor::Remove(bool isMusic, std::vector<int> rows) {
    // From the highest row down, so that every index still names its own track.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    TrackList& list = List(isMusic);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (*it >= 0 && static_cast<size_t>(*it) < list.tracks.size())
            list.RemoveTrack(static_cast<size_t>(*it));
}

bool ListsEditor::Move(bool isMusic, int row, int step) {
    TrackList& list = List(isMusic);
    const int count = static_cast<int>(list.tracks.size());
    if ((step != -1 && step != 1) || row < 0 || row >= count || row + step < 0 ||
        row + step >= count)
        return false;
    step < 0 ? list.MoveUp(static_cast<size_t>(row)) : list.MoveDown(static_cast<size_t>(row));
    return true;
}

void ListsEditor::Clear(bool isMusic) {
    List(isMusic).Clear();
}

bool ListsEditor::SetGap(bool isMusic, int seconds) {
    // What the dialogs offer: music 1 to 10 s, voice 10 to 60 s in tens.
    const bool offered = isMusic ? seconds >= 1 && seconds <= 10
                                 : seconds >= 10 && seconds <= 60 && seconds % 10 == 0;
    if (offered) List(isMusic).SetGapSeconds(seconds);
    return offered;
}

bool ListsEditor::SetVolume(bool isMusic, int volume) {
    if (volume < 0 || volume > 10) return false;
    List(isMusic).volume = volume;
    return true;
}

bool ListsEditor::SetOrder(bool isMusic, int random) {
    if (random != 0 && random != 1) return false;
    List(isMusic).SetRandom(random);
    return true;
}

bool ListsEditor::ApplySchedule(bool isMusic, const std::vector<int>& rows,
                                const TrackSchedule& schedule, std::string& why) {
    if (schedule.dateRangeOn && (!RealDate(schedule.dateFrom) || !RealDate(schedule.dateTo))) {
        why = "no such date";
        return false;
    }
    if (schedule.timeRangeOn && (!RealTime(schedule.timeFrom) || !RealTime(schedule.timeTo))) {
        why = "no such time";
        return false;
    }
    TrackList& list = List(isMusic);
    for (int row : rows)
        if (row < 0 || static_cast<size_t>(row) >= list.tracks.size()) {
            why = "no track at row " + std::to_string(row);
            return false;
        }
    for (int row : rows) {
        // A range left off keeps the values stored with it.
        TrackSchedule& s = list.tracks[static_cast<size_t>(row)].schedule;
        s.dateRangeOn = schedule.dateRangeOn;
        if (s.dateRangeOn) s.dateFrom = schedule.dateFrom, s.dateTo = schedule.dateTo;
        s.timeRangeOn = schedule.timeRangeOn;
        if (s.timeRangeOn) s.timeFrom = schedule.timeFrom, s.timeTo = schedule.timeTo;
    }
    list.RefreshScheduleFlags();
    return true;
}

std::string ListsEditor::CoverageText(bool isMusic, const LocalTime& now) const {
    const TrackList& list = isMusic ? working_->music : working_->voice;
    const auto days = ScheduleCoverage(list.tracks).UncoveredDays(now, 365);
    return CoverageSummary(days, isMusic, !list.HasTracks()) + ".";
}

ListsEditor::Saved ListsEditor::Save(std::string& why) {
    // A file that is gone is written again; one that another save changed is not
    // written over.
    if (const std::string now = CurrentVersion(); !now.empty() && now != baseVersion()) {
        why = kListsChangedElsewhere;
        return Saved::Conflict;
    }
    return working_->Save(&why) ? Saved::Ok : Saved::Failed;
}

}  // namespace tw
