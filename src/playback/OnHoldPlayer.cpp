#include "OnHoldPlayer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "AtomicFile.h"
#include "DsResult.h"
#include "Log.h"
#include "Paths.h"
#include "PcmSink.h"
#include "TonewellConf.h"

namespace tw {

const char* const kTitlePlaying = "Tonewell v1.0";
const char* const kTitlePaused = "Tonewell v1.0 (paused)";

namespace {

const char* const kFirstRunNotice =
    "Since this is your first time running Tonewell, default audio tracks have been selected.  "
    "You may customize the track selection by clicking on the Manage Audio button.";

// Seconds a stream may have nothing to play before its track ends as a failed load.
constexpr uint64_t kStallSeconds = 5;

// A track is a file under "sounds": a stored name that climbs out of it, or is
// absolute, is refused like a missing file. Any thread. The loudness gain is set
// when the cache knows it, or, with `measureNow`, measured at once (`trimKnown`
// says which).
LoadedSound ReadTrack(const std::string& path, Leveller& leveller, bool isMusic,
                      LoadOptions load, bool measureNow, bool& trimKnown) {
    LoadedSound sound;
    trimKnown = true;
    if (!StaysUnder(path, "sounds"))
        sound.error = "Unable to locate file (" + path + ")";
    else
        ReadSound(path, sound, load);
    if (!sound.stream) return sound;
    if (measureNow)
        sound.trim = leveller.GainFor(path, isMusic);
    else
        trimKnown = leveller.KnownGain(path, isMusic, sound.trim);
    return sound;
}

// "loudness = on" and the two targets; a value that is not a number keeps its default.
LevellingOptions LevellingFromConf(const TonewellConf& conf) {
    LevellingOptions options;
    options.on = conf.Get("loudness") == "on";
    ParseLufsTarget(conf.Get("loudness-music"), options.musicLufs);
    ParseLufsTarget(conf.Get("loudness-voice"), options.voiceLufs);
    return options;
}

std::string WorkingFolder() {
    std::error_code ec;
    const std::string path = std::filesystem::current_path(ec).string();
    return ec ? std::string(".") : path;
}

std::vector<std::string> OnePass(TrackList& list, bool isMusic) {
    std::vector<std::string> rows;
    std::string name;
    int pass = 0;
    for (bool first = true; list.NextTrack(name, pass); first = false) {
        if (!first && pass == 0) break;
        rows.push_back(ShownTrackName(name, isMusic));
    }
    return rows;
}


}  // namespace

void SoundSlot::Free() {
    if (buffer) buffer->Stop();
    buffer.reset();
    stream.reset();
}

MbResult OncePerRunBoxes::DoShow(const std::string& text, const std::string& caption,
                                 MbButtons buttons, MbIcon) {
    if (!shown_.insert(caption + '\n' + text).second) {
        Log("error - %s (shown before)", text.c_str());
    } else {
        Log("error - %s", text.c_str());
        inner_.Notify(text, caption);
    }
    return buttons == MbButtons::Ok ? MbResult::Ok : MbResult::Yes;
}

OnHoldPlayer::OnHoldPlayer(const Clock& clock, TimerService& timers, MessageBox& boxes,
                           PlayerView& view, Options options)
    : clock_(clock),
      timers_(timers),
      boxes_(boxes),
      loadBoxes_(boxes),
      view_(view),
      options_(options),
      config_(clock, boxes),
      automaton_(*this, timers) {
    std::string why;
    if (!FolderIsWritable(".", why)) {
        ReportSaveProblem("Tonewell cannot save anything in its working folder " + WorkingFolder() +
                          " (" + why +
                          ").\nIt plays on, but changes to the volumes and settings will be "
                          "lost when it stops.");
    }
    settings_.LoadSettings();
    config_.Load();
    if (!config_.copyProblem.empty()) {
        ReportSaveProblem("Tonewell could not copy default.cfg to audio.cfg in " + WorkingFolder() +
                          " (" + config_.copyProblem +
                          ").\nThe default tracks play, but changes to them will be lost when "
                          "it stops.");
    }
    leveller_ = std::make_shared<Leveller>(LevellingOptions{});
    confStamp_ = StampOf(kTonewellConf);
    ReadLevellingSettings();
    if (options_.backgroundPreload) {
        worker_ = std::make_unique<MessageThread>();
        measurer_ = std::make_unique<MeasuringThread>(leveller_, timers_);
    }
    music_.volume = config_.music.volume;
    voice_.volume = config_.voice.volume;
    timers_.SetHandler([this](int id) { OnTimer(id); });
}

OnHoldPlayer::~OnHoldPlayer() {
    measurer_.reset();  // a long measurement gives up at its next block
    worker_.reset();  // the reads asked for finish first; their results are dropped
    automaton_.DisarmAll();
    timers_.Stop(kTimerTick);
    timers_.Stop(kTimerStart);
    timers_.SetHandler(nullptr);
    Teardown();
}

void OnHoldPlayer::Teardown() {
    for (SoundSlot* slot : {&music_.current, &voice_.current, &music_.next, &voice_.next})
        slot->Free();
}

void OnHoldPlayer::Initialise() {
    if (config_.firstRun) view_.EnableManageAudio(false);
    InitAudioDevice();
    ApplyLevels();
    timers_.Start(kTimerTick, 1000);
    RefreshFileLists();
    if (settings_.startPlaying != 0 || options_.startAlways) {
        timers_.Start(kTimerStart, 1000);
    } else {
        isPlaying_ = false;
        neverStarted_ = true;
    }
    ShowPlayingState();
}

void OnHoldPlayer::ShowPlayingState() {
    view_.SetTitle(isPlaying_ ? kTitlePlaying : kTitlePaused);
    view_.SetButtons(!isPlaying_, isPlaying_);
    ShowStatus();
}

void OnHoldPlayer::ShowStatus() {
    view_.SetStatus(StatusText());
}

void OnHoldPlayer::InitAudioDevice() {
    Guid guid;
    std::memcpy(guid.data(), settings_.device.data(), guid.size());
    const uint32_t code = SoundDevice::Create(IsNullGuid(guid) ? nullptr : &guid, options_.output,
                                              device_, options_.directRate, options_.sinks);
    if (code != DS_OK) {
        boxes_.Show("DirectSound could not initialize!", "Tonewell");
        ShowDirectSoundError(boxes_, code);
        return;
    }
    if (device_->SetCooperativeLevel(1) != DS_OK)
        boxes_.Show("SetCooperativeLevel failed", "Tonewell");
    PreloadMusic();
    PreloadVoice();
}

// ---- channels ----

void OnHoldPlayer::Preload(AudioChannel& channel, TrackList& list, bool isMusic) {
    // Without a device nothing is loaded: there is nothing to play it on.
    if (!device_ || channel.next.stream || channel.loading) return;
    // An unreadable file does not silence the channel: the following tracks are
    // tried, at most one pass of the list.
    channel.attemptsLeft = list.tracks.size();
    RequestNext(channel, list, isMusic);
}

void OnHoldPlayer::RequestNext(AudioChannel& channel, TrackList& list, bool isMusic) {
    while (channel.attemptsLeft > 0) {
        --channel.attemptsLeft;
        std::string path;
        int pass = 0;
        if (!list.NextTrack(path, pass)) return;
        const uint64_t ticket = ++tickets_;
        channel.ticket = ticket;
        const LoadOptions load{device_->mixer().outputRate(), MonoOutputs()};
        if (worker_) {
            // The file is read and decoded on the worker; the result comes back to
            // this thread as a posted task, and only if this player still wants it.
            channel.loading = true;
            // A loudness the cache does not know is measured later, beside the
            // playing: a long track's first music must not wait for a whole pass.
            worker_->PostTask([this, owner = std::weak_ptr<const char>(lifetime_),
                               leveller = leveller_, isMusic, ticket, path, pass, load] {
                bool trimKnown = true;
                LoadedSound sound = ReadTrack(path, *leveller, isMusic, load, false, trimKnown);
                timers_.PostTaskWhileAlive(
                    owner, [this, isMusic, ticket, path, pass, sound, trimKnown] {
                        Preloaded(isMusic, ticket, path, pass, sound, trimKnown);
                    });
            });
            return;
        }
        // A render measures at once, so that it is the same every time.
        bool trimKnown = true;
        const LoadedSound sound = ReadTrack(path, *leveller_, isMusic, load, true, trimKnown);
        Preloaded(isMusic, ticket, path, pass, sound, trimKnown);
        if (channel.next.stream) return;
    }
}

void OnHoldPlayer::Preloaded(bool isMusic, uint64_t ticket, const std::string& path, int pass,
                             const LoadedSound& sound, bool trimKnown) {
    AudioChannel& channel = isMusic ? music_ : voice_;
    if (ticket != channel.ticket || !device_) return;  // dropped meanwhile
    channel.loading = false;
    Log(isMusic ? "status - preload music %s" : "status - preload voice %s",
        ShownTrackName(path, isMusic).c_str());
    if (!sound.stream) {
        loadBoxes_.Show(sound.error, "Error");
        if (failed_[path] != sound.error) {
            failed_[path] = sound.error;
            ShowFailedTracks();
        }
        if (worker_) RequestNext(channel, isMusic ? config_.music : config_.voice, isMusic);
        return;
    }
    if (failed_.erase(path)) ShowFailedTracks();
    SoundSlot& next = channel.next;
    next.path = path;
    next.passNumber = pass;
    next.byteLength = sound.size;
    next.trimKnown = trimKnown;
    next.dryLogged = false;
    MakeSoundBuffer(sound, path, *device_, next.buffer, loadBoxes_);
    next.stream = sound.stream;
    if (!trimKnown && measurer_) {
        measurer_->Measure(path, isMusic, sound.stream,
                           [this, isMusic](const std::shared_ptr<SoundStream>& stream, int gain) {
                               Measured(isMusic, stream, gain);
                           });
    }
    // The song starts at its channel's level, whatever happens before it plays.
    if (next.buffer) next.buffer->SetVolume(ChannelLevel(isMusic, 0));
    if (next.buffer) next.buffer->SetTrim(sound.trim);
    // A gap that fired while this read was under way ends now (only for a read that
    // came back from the worker: an inline one is inside GapEnded already).
    if (worker_ && channel.gapWaiting && !automaton_.busy()) {
        channel.gapWaiting = false;
        GapEnded(isMusic);
    }
}

void OnHoldPlayer::PreloadMusic() {
    Preload(music_, config_.music, true);
}
void OnHoldPlayer::PreloadVoice() {
    Preload(voice_, config_.voice, false);
}

void OnHoldPlayer::Play(AudioChannel& channel, bool isMusic) {
    if (!channel.next.stream) return;
    watchdog_.Sounding(isMusic);
    channel.current = std::move(channel.next);
    channel.next = SoundSlot{};
    ApplyLevels();
    if (channel.current.buffer) channel.current.buffer->Play();
    isMusic ? SelectMusicRow() : SelectVoiceRow();
    channel.seenPlaying = false;
    Log(isMusic ? "status - play music %s" : "status - play voice %s",
        ShownTrackName(channel.current.path, isMusic).c_str());
}

void OnHoldPlayer::PlayMusic() {
    Play(music_, true);
}
void OnHoldPlayer::PlayVoice() {
    Play(voice_, false);
}

void OnHoldPlayer::Stop(AudioChannel& channel, bool isMusic) {
    if (channel.current.stream) channel.current.Free();  // the path stays until the next play
    watchdog_.Stopped(isMusic);
}

void OnHoldPlayer::StopMusic() {
    Stop(music_, true);
}
void OnHoldPlayer::StopVoice() {
    Stop(voice_, false);
    SelectVoiceRow();
}

void OnHoldPlayer::DropNext(AudioChannel& channel) {
    if (channel.next.stream) channel.next.Free();
    // A read still in flight is no longer wanted.
    channel.loading = false;
    channel.ticket = ++tickets_;
    channel.gapWaiting = false;
}

void OnHoldPlayer::DropNextMusic() {
    DropNext(music_);
}
void OnHoldPlayer::DropNextVoice() {
    DropNext(voice_);
}

int OnHoldPlayer::ChannelLevel(bool isMusic, int fadeOffset) const {
    return ComputeChannelLevel(isMusic ? music_.volume : voice_.volume, fadeOffset);
}

void OnHoldPlayer::SetMusicCurrentLevel(int level) {
    if (music_.current.buffer) music_.current.buffer->SetVolume(level);
}

// ---- driver ----

void OnHoldPlayer::OnTimer(int id) {
    HandleTimer(id);
    if (id == kTimerTick) ShowStatus();
}

void OnHoldPlayer::HandleTimer(int id) {
    if (id == kTimerTick) {
        if (!automaton_.busy()) {
            ReloadIfChanged("an edit on disk");
            RereadConfIfChanged();
        }
        if (config_.firstRun) {
            config_.firstRun = false;
            boxes_.Show(kFirstRunNotice, "Tonewell");
            view_.EnableManageAudio(true);
        }
        UpdateProgress();
        if (++tickCount_ >= 30) {
            tickCount_ = 0;
            if (config_.RefreshScheduleFlags()) {
                RefreshFileLists();
                RestartPlayback();
                view_.SetMusicProgress(0);
                view_.SetVoiceProgress(0);
            }
        }
    }
    if (!isPlaying_) return;
    // Nothing reaches the automaton while one of its actions runs (a loop nested in
    // it); the timers fire again.
    if (automaton_.busy()) return;
    switch (id) {
        case kTimerStart:
            timers_.Stop(kTimerStart);
            watchdog_.CycleStarted();
            if (config_.voice.HasTracks())
                automaton_.ArmVoiceGap(int64_t{config_.voice.GapSeconds()} * 1000);
            if (config_.music.HasTracks()) automaton_.ArmMusicGap(1000);
            automaton_.fsa().EnterState("mussil_vocsil");
            break;
        case kTimerMusicGap:
            GapEnded(true);
            break;
        case kTimerVoiceGap:
            GapEnded(false);
            break;
        case kTimerFadeUp:
            if (automaton_.fadeUpArmed()) automaton_.HandleEvent("upstp");
            break;
        case kTimerFadeDown:
            if (automaton_.fadeDownArmed()) automaton_.HandleEvent("dwnstp");
            break;
        case kTimerTick:
            if (automaton_.automatonHalted()) {
                RecoverFromHalt();
                break;
            }
            if (WatchSilence()) break;
            DetectEnd(music_, true);
            DetectEnd(voice_, false);
            break;
        default:
            break;
    }
}

void OnHoldPlayer::GapEnded(bool isMusic) {
    if (!(isMusic ? automaton_.musicGapArmed() : automaton_.voiceGapArmed())) return;
    AudioChannel& channel = isMusic ? music_ : voice_;
    // Nothing preloaded (a file was missing, or nothing was in schedule, or the read
    // is still under way): try again; a read that arrives later ends the wait.
    channel.gapWaiting = false;
    if (!channel.next.stream) isMusic ? PreloadMusic() : PreloadVoice();
    if (!channel.next.stream) {
        channel.gapWaiting = true;
        return;
    }
    isMusic ? automaton_.DisarmMusicGap() : automaton_.DisarmVoiceGap();
    automaton_.HandleEvent(isMusic ? "mussil" : "vocsil");
}

SilenceWatchdog::Facts OnHoldPlayer::SilenceFacts(bool isMusic) const {
    const TrackList& list = isMusic ? config_.music : config_.voice;
    SilenceWatchdog::Facts facts;
    facts.gapSeconds =
        TimerService::BoundPeriod(int64_t{list.GapSeconds()} * 1000) / 1000;
    for (const Track& track : list.tracks) {
        if (!track.inSchedule) continue;
        ++facts.inSchedule;
        if (!failed_.count(track.name)) ++facts.loadable;
    }
    facts.coveredBy = isMusic && voice_.current.stream != nullptr;
    return facts;
}

bool OnHoldPlayer::WatchSilence() {
    const SilenceWatchdog::Result r = watchdog_.Tick(SilenceFacts(true), SilenceFacts(false));
    if (r.verdict == SilenceWatchdog::Verdict::Quiet) return false;
    if (r.verdict == SilenceWatchdog::Verdict::Unplayable) {
        // A restart would only cut what still plays: say once what is wrong, and go on.
        const int count = r.inSchedule;
        loadBoxes_.Show(std::string(r.isMusic ? "No music can play: " : "No voice message can play: ") +
                            (count == 1 ? std::string("the one track in schedule")
                                        : "all " + std::to_string(count) + " tracks in schedule") +
                            " could not be loaded (see the list).",
                        "Tonewell");
        return false;
    }
    Log(r.isMusic ? "error - no music for %d seconds with a track in schedule: restarting"
                  : "error - no voice message for %d seconds with one in schedule: restarting",
        r.silentSeconds);
    RestartPlayback();
    return true;
}

void OnHoldPlayer::RecoverFromHalt() {
    // The automaton met an event it has no rule for. Silence for the rest of the
    // run is the worst answer: say so once, and start a new cycle.
    Log("error - the on-hold automaton halted in state %s: restarting playback",
        automaton_.StateName().c_str());
    loadBoxes_.Show("Playback stopped on an internal error and was restarted.", "Tonewell");
    automaton_.Reset();
    RestartPlayback();
}

void OnHoldPlayer::ReportSaveProblem(const std::string& text) {
    Log("error - %s", text.c_str());
    if (saveProblemShown_) return;
    saveProblemShown_ = true;
    boxes_.Show(text, "Tonewell");
}

void OnHoldPlayer::DetectEnd(AudioChannel& channel, bool isMusic) {
    if (channel.endNow) {
        channel.endNow = false;
        if (channel.current.stream) {
            Log(isMusic ? "status - music track finished" : "status - voice track finished");
            automaton_.HandleEvent(isMusic ? "musfin" : "vocfin");
        }
        return;
    }
    SoundBuffer* buffer = channel.current.buffer.get();
    if (!buffer) return;
    if (EndStalled(channel, isMusic)) return;
    if (buffer->Position() != 0) {
        channel.seenPlaying = true;
        return;
    }
    // A sound shorter than a tick may end before any tick sees it move: the buffer
    // says that it played to its end.
    if (!channel.seenPlaying && !buffer->HasFinished()) return;
    Log(isMusic ? "status - music track finished" : "status - voice track finished");
    automaton_.HandleEvent(isMusic ? "musfin" : "vocfin");
}

bool OnHoldPlayer::EndStalled(AudioChannel& channel, bool isMusic) {
    SoundSlot& slot = channel.current;
    const uint64_t dry = slot.buffer->DryFrames();
    const uint64_t rate = static_cast<uint64_t>(device_->mixer().outputRate());
    if (dry < rate / 2) return false;  // a moment's wait is not a stall yet
    const std::string shown = ShownTrackName(slot.path, isMusic);
    if (!slot.dryLogged) {
        slot.dryLogged = true;
        Log("error - reading %s falls behind: it is silent until the file answers",
            shown.c_str());
    }
    if (dry < kStallSeconds * rate) return false;
    const std::string why = "Unable to read file (" + slot.path + "): it stopped answering";
    loadBoxes_.Show(why, "Error");
    failed_[slot.path] = why;
    ShowFailedTracks();
    Log(isMusic ? "status - music track finished" : "status - voice track finished");
    automaton_.HandleEvent(isMusic ? "musfin" : "vocfin");
    return true;
}

void OnHoldPlayer::Measured(bool isMusic, const std::shared_ptr<SoundStream>& stream, int gain) {
    AudioChannel& channel = isMusic ? music_ : voice_;
    if (channel.next.stream == stream) {
        channel.next.trimKnown = true;
        if (channel.next.buffer) channel.next.buffer->SetTrim(gain);
    } else if (channel.current.stream == stream && !channel.current.trimKnown) {
        // Playing already: a cut takes effect now, a boost only from the next play,
        // so that nobody hears a song jump up in the middle.
        channel.current.trimKnown = true;
        if (gain < 0 && channel.current.buffer) channel.current.buffer->SetTrim(gain);
    }
}

void OnHoldPlayer::UpdateProgress() {
    auto percent = [](const SoundSlot& s) {
        return s.byteLength ? static_cast<int>(std::min<uint64_t>(
                                  100, static_cast<unsigned __int128>(s.buffer->Position()) * 100 /
                                           s.byteLength))
                            : 0;
    };
    if (music_.current.buffer) view_.SetMusicProgress(percent(music_.current));
    if (voice_.current.buffer) view_.SetVoiceProgress(percent(voice_.current));
}

void OnHoldPlayer::TogglePlayback() {
    if (neverStarted_) {
        isPlaying_ = true;
        neverStarted_ = false;
        timers_.Start(kTimerStart, 1000);
        ShowPlayingState();
        return;
    }
    isPlaying_ = !isPlaying_;
    watchdog_.PausedOrResumed();
    ShowPlayingState();
    // Both current sounds halt where they are, and resume from there.
    for (bool isMusic : {true, false}) {
        SoundSlot& current = (isMusic ? music_ : voice_).current;
        if (!current.stream) continue;
        if (isPlaying_) {
            ApplyLevels();
            if (current.buffer) current.buffer->Play();
            isMusic ? SelectMusicRow() : SelectVoiceRow();
        } else if (current.buffer) {
            current.buffer->Stop();
        }
    }
}

void OnHoldPlayer::RestartPlayback() {
    if (music_.current.buffer) music_.current.buffer->Stop();
    if (voice_.current.buffer) voice_.current.buffer->Stop();
    StopVoice();
    DropNextVoice();
    StopMusic();
    DropNextMusic();
    PreloadMusic();
    PreloadVoice();
    automaton_.DisarmAll();
    // The silence before a restart never counts against the new cycle.
    watchdog_.Restarted();
    timers_.Start(kTimerStart, 1000);
}

void OnHoldPlayer::ApplyLevels() {
    if (music_.current.buffer && automaton_.StateName().find("musctn") != std::string::npos)
        music_.current.buffer->SetVolume(ChannelLevel(true, 0));
    if (music_.next.buffer) music_.next.buffer->SetVolume(ChannelLevel(true, 0));
    if (voice_.current.buffer) voice_.current.buffer->SetVolume(ChannelLevel(false, 0));
    if (voice_.next.buffer) voice_.next.buffer->SetVolume(ChannelLevel(false, 0));
}

void OnHoldPlayer::SetChannelVolume(bool isMusic, int volume) {
    (isMusic ? music_ : voice_).volume = volume;
    ApplyLevels();
}

void OnHoldPlayer::OnVolumeSlider(bool isMusic, int position) {
    // A hand edit made meanwhile is taken first, so that the save keeps it.
    ReloadIfChanged("an edit on disk");
    SetChannelVolume(isMusic, position);
    std::string why;
    if (!config_.SetVolumeAndSave(isMusic, position, &why))
        ReportSaveProblem("Tonewell could not save the volume in audio.cfg in " + WorkingFolder() +
                          " (" + why + ").\nThe change will be lost when it stops.");
}

void OnHoldPlayer::RefreshFileLists() {
    config_.ResetPositions();
    const std::vector<std::string> musicRows = OnePass(config_.music, true);
    const std::vector<std::string> voiceRows = OnePass(config_.voice, false);
    view_.SetFileLists(voiceRows, musicRows);
    ShowFailedTracks();
}

void OnHoldPlayer::SelectMusicRow() {
    view_.SelectMusicRow(music_.current.passNumber);
}
void OnHoldPlayer::SelectVoiceRow() {
    // A message that has ended is not left selected.
    view_.SelectVoiceRow(voice_.current.stream ? voice_.current.passNumber : -1);
}

void OnHoldPlayer::ReloadConfiguration() {
    config_.Load();
    for (Until& until : until_) until.minuteKey = -1;
    RefreshFileLists();
    // Filling the lists walks one track into the next pass; the new lists start
    // at their top, where the user put the track to play first.
    config_.ResetPositions();
    RestartPlayback();
    view_.SetMusicProgress(0);
    view_.SetVoiceProgress(0);
}

void OnHoldPlayer::ReadLevellingSettings() {
    TonewellConf conf;
    conf.Load();
    ApplyLevelling(conf);
}

void OnHoldPlayer::RereadTonewellConf() {
    TonewellConf conf;
    conf.Load();
    ApplyLevelling(conf);
    LogLevel level = LogLevel::Trace;
    if (LogEnabled() && ParseLogLevel(conf.Get("log-level"), level)) SetLogLevel(level);
}

void OnHoldPlayer::ApplyLevelling(const TonewellConf& conf) {
    const LevellingOptions options = LevellingFromConf(conf);
    leveller_->SetOptions(options);
    if (options.on)
        Log("status - loudness levelling on: music %.1f LUFS, voice %.1f LUFS", options.musicLufs,
            options.voiceLufs);
}

bool OnHoldPlayer::CloseNeedsConfirmation() const {
    return isPlaying_ &&
           (config_.music.CountInSchedule() != 0 || config_.voice.CountInSchedule() != 0);
}

}  // namespace tw
