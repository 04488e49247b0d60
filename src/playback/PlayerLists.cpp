// Lists that change while the player plays (edited in the web console, or by
// hand in "audio.cfg"), taken without a new cycle; and "tonewell.conf" changed
// on disk.
#include "OnHoldPlayer.h"

#include "AtomicFile.h"
#include "Log.h"
#include "TonewellConf.h"

namespace tw {
namespace {

bool SameTracks(const TrackList& a, const TrackList& b) {
    if (a.tracks.size() != b.tracks.size()) return false;
    for (size_t i = 0; i < a.tracks.size(); ++i)
        if (a.tracks[i].name != b.tracks[i].name) return false;
    return true;
}

bool SameSchedules(const TrackList& a, const TrackList& b) {
    for (size_t i = 0; i < a.tracks.size() && i < b.tracks.size(); ++i)
        if (!(a.tracks[i].schedule == b.tracks[i].schedule)) return false;
    return true;
}

int IndexOf(const TrackList& list, const std::string& name) {
    for (size_t i = 0; i < list.tracks.size(); ++i)
        if (list.tracks[i].name == name) return static_cast<int>(i);
    return -1;
}

// "audio.cfg" larger than this is no list a person keeps: it is not read again.
constexpr size_t kMaxConfigBytes = 16 << 20;

}  // namespace

void OnHoldPlayer::AdoptConfiguration(const AudioConfig& fresh) {
    for (bool isMusic : {true, false}) {
        TrackList& list = isMusic ? config_.music : config_.voice;
        const TrackList& from = isMusic ? fresh.music : fresh.voice;
        AudioChannel& channel = isMusic ? music_ : voice_;
        list.gapSeconds = from.gapSeconds;  // armed from the next gap on
        const bool hadTracks = list.HasTracks();
        const bool reordered = list.random != from.random || !SameTracks(list, from);
        const bool rescheduled = !reordered && !SameSchedules(list, from);
        if (reordered || rescheduled) {
            list.random = from.random;
            list.tracks = from.tracks;
            list.RefreshScheduleFlags();
        }
        if (reordered) {
            // Where the list stands: at the preloaded track, else just past the
            // one that plays (or played last).
            const bool atNext = channel.next.stream != nullptr;
            const int k = IndexOf(list, atNext ? channel.next.path : channel.current.path);
            list.BuildOrder();
            if (list.random != 0) {
                list.position = 0;
            } else if (k >= 0) {
                list.position = atNext ? k : k + 1;
            }
            if (list.position >= static_cast<int>(list.tracks.size())) list.position = 0;
            list.passCount = list.random != 0 ? 0 : list.position;
            // The sound that plays now ends only when it left the list.
            if (channel.current.stream && IndexOf(list, channel.current.path) < 0) {
                if (channel.current.buffer) channel.current.buffer->Stop();
                channel.endNow = true;
            }
        }
        if (reordered || rescheduled) {
            // The preloaded track may have gone, moved or left its schedule.
            const bool waiting = channel.gapWaiting;
            DropNext(channel);
            Preload(channel, list, isMusic);
            if (waiting && channel.next.stream)
                GapEnded(isMusic);
            else
                channel.gapWaiting = waiting;
        }
        // A list that was empty gets its gap armed, where the cycle waits for one.
        const std::string state = automaton_.StateName();
        if (!hadTracks && list.HasTracks() && isPlaying_ && !channel.current.stream) {
            if (isMusic && !automaton_.musicGapArmed() &&
                (state == "mussil_vocsil" || state == "mussil_vocctn"))
                automaton_.ArmMusicGap(int64_t{list.GapSeconds()} * 1000);
            if (!isMusic && !automaton_.voiceGapArmed() &&
                (state == "mussil_vocsil" || state == "musctn_vocsil"))
                automaton_.ArmVoiceGap(int64_t{list.GapSeconds()} * 1000);
        }
        if (list.volume != from.volume) {
            list.volume = from.volume;
            SetChannelVolume(isMusic, from.volume);
        }
    }
    config_.loaded = fresh.loaded;
    config_.loadedText = fresh.loadedText;
    for (Until& until : until_) until.minuteKey = -1;
    // The lists shown, without moving where each list stands.
    const int positions[4] = {config_.music.position, config_.music.passCount,
                              config_.voice.position, config_.voice.passCount};
    RefreshFileLists();
    config_.music.position = positions[0], config_.music.passCount = positions[1];
    config_.voice.position = positions[2], config_.voice.passCount = positions[3];
    ShowStatus();
}

void OnHoldPlayer::RereadConfIfChanged() {
    const FileStamp stamp = StampOf(kTonewellConf);
    if (stamp == confStamp_) return;
    confStamp_ = stamp;
    RereadTonewellConf();
    Log("status - tonewell.conf changed: levelling and log level read again; the output's "
        "settings apply from its next start");
}

bool OnHoldPlayer::ReloadIfChanged(const char* cause) {
    const FileStamp stamp = StampOf("audio.cfg");
    if (stamp == configStamp_) return false;
    configStamp_ = stamp;
    std::string text;
    // A file that is gone (a save under way, or removed) keeps what plays; the
    // next save writes it again.
    if (!ReadWholeFile("audio.cfg", text, kMaxConfigBytes)) return false;
    if (text == config_.loadedText) {
        listsProblem_.clear();
        return false;
    }
    std::string problem = text.size() > kMaxConfigBytes ? std::string("it is over 16 MB")
                                                        : AudioConfig::CheckText(text);
    if (!problem.empty()) {
        problem = "audio.cfg " + problem;
        if (problem != listsProblem_)
            Log("error - %s changed audio.cfg, but %s; the lists that play are kept", cause,
                problem.c_str());
        listsProblem_ = problem;
        return false;
    }
    listsProblem_.clear();
    AudioConfig fresh(clock_, boxes_);
    fresh.LoadText(text);
    fresh.loadedText = text;
    AdoptConfiguration(fresh);
    Log("status - audio.cfg reloaded (%s)", cause);
    return true;
}

void OnHoldPlayer::TakeSavedLists() {
    std::string text;
    if (!ReadWholeFile("audio.cfg", text, kMaxConfigBytes) || !AudioConfig::CheckText(text).empty())
        return ReloadConfiguration();
    AudioConfig fresh(clock_, boxes_);
    fresh.LoadText(text);
    fresh.loadedText = text;
    for (bool isMusic : {true, false}) {
        const TrackList& now = isMusic ? config_.music : config_.voice;
        const TrackList& saved = isMusic ? fresh.music : fresh.voice;
        if (!SameTracks(now, saved) || !SameSchedules(now, saved)) return ReloadConfiguration();
    }
    configStamp_ = StampOf("audio.cfg");
    AdoptConfiguration(fresh);
    Log("status - audio.cfg saved by Manage Audio; taken without a new cycle");
}

}  // namespace tw
