// The player's words about itself: the status line (what plays, what comes next,
// why nothing plays, what failed) and the marks on the tracks that failed.
#include "OnHoldPlayer.h"

#include <algorithm>
#include <cstdio>

#include "Paths.h"
#include "PcmSink.h"
#include "ScheduleCoverage.h"

namespace tw {
namespace {

// The parts of a status line, with a dot between them.
std::string JoinedParts(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "  \u00b7  ") + part;
    return text;
}

// "08:00" today, "tomorrow 08:00", or "16 January 08:00".
std::string UntilText(const LocalTime& now, const LocalTime& at) {
    auto sameDay = [](const LocalTime& x, const LocalTime& y) {
        return x.year == y.year && x.month == y.month && x.day == y.day;
    };
    const std::string time = MinuteText(at.hour * 60 + at.minute);
    if (sameDay(at, now)) return time;
    if (sameDay(at, DayAfter(now))) return "tomorrow " + time;
    return DayText(at) + " " + time;
}

}  // namespace

std::string OnHoldPlayer::NothingPlays(bool isMusic) {
    const TrackList& list = isMusic ? config_.music : config_.voice;
    if (!list.HasTracks())
        return isMusic ? "No music tracks: add some with Manage Audio"
                       : "No voice messages: add some with Manage Audio";
    int inSchedule = 0, failing = 0;
    for (const Track& t : list.tracks)
        if (t.schedule.IsActiveNow(clock_)) {
            ++inSchedule;
            failing += static_cast<int>(failed_.count(t.name));
        }
    if (inSchedule != 0) {
        // Every one of them known to fail (empty files, say): nothing will play.
        if (failing < inSchedule) return "";
        return isMusic ? "No music can play: no track in schedule could be loaded (see the list)"
                       : "No voice message can play: none in schedule could be loaded (see the "
                         "list)";
    }
    const char* const none =
        isMusic ? "No music track is in schedule" : "No voice message is in schedule";
    const LocalTime now = clock_.Now();
    const int64_t minuteKey =
        ((int64_t{now.year} * 13 + now.month) * 32 + now.day) * 1440 + now.hour * 60 + now.minute;
    Until& until = until_[isMusic ? 0 : 1];
    if (until.minuteKey != minuteKey) {
        until.minuteKey = minuteKey;
        until.found = ScheduleCoverage(list.tracks).NextCovered(now, 366, until.at);
    }
    return until.found ? std::string(none) + " until " + UntilText(now, until.at) : none;
}

std::vector<std::pair<std::string, std::string>> OnHoldPlayer::OutputStates() const {
    std::vector<std::pair<std::string, std::string>> states;
    if (!device_) {
        states.emplace_back("none", "none: the sound device could not be made");
        return states;
    }
    if (options_.output == OutputMode::Null)
        states.emplace_back("null", "null: real time into nothing");
    if (options_.output == OutputMode::Device)
        states.emplace_back("device", device_->OnOutput() ? "sound card"
                                      : device_->OutputLost()
                                          ? "sound card: lost, trying again every 2 seconds"
                                          : "sound card: resting while nothing plays");
    for (auto& state : device_->SinkStates()) states.push_back(std::move(state));
    return states;
}

PcmSink::CallCounts OnHoldPlayer::Calls() const {
    for (const PcmSink* sink : options_.sinks)
        if (const PcmSink::CallCounts calls = sink->Calls(); calls.now >= 0) return calls;
    return {};
}

std::string OnHoldPlayer::OutputState() const {
    std::vector<std::string> parts;
    for (const auto& [name, state] : OutputStates()) parts.push_back(state);
    return parts.empty() ? "none" : JoinedParts(parts);
}

bool OnHoldPlayer::MonoOutputs() const {
    if (options_.output != OutputMode::Sink || options_.sinks.empty()) return false;
    return std::all_of(options_.sinks.begin(), options_.sinks.end(),
                       [](const PcmSink* sink) { return sink->channels() == 1; });
}

int64_t OnHoldPlayer::NextMessageInSeconds() const {
    if (!isPlaying_ || voice_.current.stream || !automaton_.voiceGapArmed()) return -1;
    const int64_t ms = timers_.RemainingMs(kTimerVoiceGap);
    return ms < 0 ? -1 : (ms + 999) / 1000;
}

std::string OnHoldPlayer::StatusText() {
    if (!isPlaying_) return "Paused";
    std::vector<std::string> parts;
    // Nothing can be heard, whatever plays: said first, until the output is back.
    if (device_ && device_->OutputLost()) parts.push_back("Sound output lost: trying again");
    // So is another output that does not carry the music now.
    for (const PcmSink* sink : options_.sinks)
        if (sink->Failing()) parts.push_back("Output " + sink->State());
    // A warning comes before what plays: a line cut short never hides it.
    size_t failed = 0;
    for (const auto& [path, why] : failed_)
        for (const TrackList* list : {&config_.music, &config_.voice})
            if (std::any_of(list->tracks.begin(), list->tracks.end(),
                            [&path](const Track& t) { return t.name == path; })) {
                ++failed;
                break;
            }
    if (failed == 1) parts.push_back("1 track could not be loaded: see the list");
    if (failed > 1)
        parts.push_back(std::to_string(failed) + " tracks could not be loaded: see the list");
    if (music_.current.stream)
        parts.push_back("Playing " + ShownTrackName(music_.current.path, true));
    else if (std::string why = NothingPlays(true); !why.empty())
        parts.push_back(why);
    if (voice_.current.stream) {
        parts.push_back("Message " + ShownTrackName(voice_.current.path, false));
    } else if (std::string why = NothingPlays(false); !why.empty()) {
        parts.push_back(why);
    } else if (const int64_t seconds = NextMessageInSeconds(); seconds >= 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Next message in %lld:%02lld",
                      static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
        parts.push_back(text);
    }
    // A media server's callers: how many hear the music now.
    if (const PcmSink::CallCounts calls = Calls(); calls.now >= 0)
        parts.push_back(std::to_string(calls.now) + (calls.now == 1 ? " call" : " calls") +
                        " on hold (most today " + std::to_string(calls.mostToday) + ")");
    return JoinedParts(parts);
}

void OnHoldPlayer::ShowFailedTracks() {
    PlayerView::TrackProblems voice, music;
    for (const auto& [path, why] : failed_) {
        const bool isMusic = path.compare(0, kMusicPrefixLength, kMusicPrefix) == 0;
        (isMusic ? music : voice)[ShownTrackName(path, isMusic)] = why;
    }
    view_.MarkFailedTracks(voice, music);
}

}  // namespace tw
