#include "TrackList.h"

#include <cstdlib>
#include <utility>

namespace tw {

bool HasControlCharacter(const std::string& name) {
    for (unsigned char c : name)
        if (c < ' ' || c == 0x7f) return true;
    return false;
}

std::string ShownTrackName(const std::string& stored, bool isMusic) {
    // Only the kind folder is cut: any other name (an absolute path) is shown whole.
    const std::string prefix = isMusic ? kMusicPrefix : kVoicePrefix;
    return stored.size() > prefix.size() && stored.compare(0, prefix.size(), prefix) == 0
               ? stored.substr(prefix.size())
               : stored;
}

bool TrackList::TrackName(size_t index, std::string& name) const {
    if (index >= tracks.size()) return false;
    name = tracks[index].name;
    return true;
}

bool TrackList::AddTrack(const std::string& name, const TrackSchedule& schedule) {
    if (name.size() > kMaxNameLength) return false;
    Track t{name, schedule, schedule.IsActiveNow(*clock_)};
    tracks.push_back(std::move(t));
    return tracks.back().inSchedule;
}

void TrackList::RemoveTrack(size_t index) {
    if (index < tracks.size()) tracks.erase(tracks.begin() + static_cast<long>(index));
}

void TrackList::MoveUp(size_t index) {
    if (index >= 1 && index < tracks.size()) std::swap(tracks[index - 1], tracks[index]);
}

void TrackList::MoveDown(size_t index) {
    if (index + 1 < tracks.size()) std::swap(tracks[index], tracks[index + 1]);
}

void TrackList::Clear() {
    tracks.clear();
    order.clear();
    position = 0;
    passCount = 0;
}

void TrackList::BuildOrder() {
    const int count = static_cast<int>(tracks.size());
    order.resize(tracks.size());
    for (int i = 0; i < count; ++i) order[i] = i;
    if (random == 0) return;
    // j is drawn over the whole array each time, as the order has always been made.
    for (int i = 0; i < count; ++i) std::swap(order[i], order[std::rand() % count]);
}

bool TrackList::NextTrack(std::string& name, int& passIndex) {
    const int count = static_cast<int>(tracks.size());
    if (count == 0) return false;
    // An order not built for this count (edited but not reloaded) plays in list order.
    const bool useOrder = random != 0 && static_cast<int>(order.size()) == count;
    if (position < 0 || position >= count) position = 0;
    const int start = position;
    int p = position;
    for (;;) {
        const int slot = useOrder ? order[p] : p;
        passIndex = passCount;
        position = (position + 1) % count;
        if (position == 0) passCount = 0;
        if (tracks[slot].schedule.IsActiveNow(*clock_) &&
            !tracks[slot].schedule.EndsThisSecond(*clock_)) {
            name = tracks[slot].name;
            if (position != 0) ++passCount;
            return true;
        }
        p = position;
        if (p == start) return false;
    }
}

int TrackList::CountInSchedule() const {
    int n = 0;
    for (const auto& t : tracks)
        if (t.schedule.IsActiveNow(*clock_)) ++n;
    return n;
}

bool TrackList::RefreshScheduleFlags() {
    bool changed = false;
    for (auto& t : tracks) {
        const bool now = t.schedule.IsActiveNow(*clock_);
        if (now != t.inSchedule) changed = true;
        t.inSchedule = now;
    }
    return changed;
}

}  // namespace tw
