#include "OnHoldPlayer.h"

#include <cstring>

#include "DsResult.h"
#include "Log.h"

namespace tw {

const char* const kTitlePlaying = "Tonewell v1.0";
const char* const kTitlePaused = "Tonewell v1.0 (paused)";

namespace {

const char* const kFirstRunNotice =
    "Since this is your first time running Tonewell, default audio tracks have been selected.  "
    "You may\ncustomize the track selection by clicking on the Manage Audio button.";

// The category and file name: the stored name without its kind folder.
std::string ShownName(const std::string& path, bool isMusic) {
    const size_t prefix = isMusic ? kMusicPrefixLength : kVoicePrefixLength;
    return path.size() > prefix ? path.substr(prefix) : path;
}

std::vector<std::string> OnePass(TrackList& list, bool isMusic) {
    std::vector<std::string> rows;
    std::string name;
    int pass = 0;
    for (bool first = true; list.NextTrack(name, pass); first = false) {
        if (!first && pass == 0) break;
        rows.push_back(ShownName(name, isMusic));
    }
    return rows;
}

}  // namespace

void SoundSlot::Free() {
    if (buffer) buffer->Stop();
    buffer.reset();
    fileData.reset();
}

MbResult OncePerRunBoxes::DoShow(const std::string& text, const std::string& caption,
                                 MbButtons buttons, MbIcon icon) {
    if (!shown_.insert(caption + '\n' + text).second) {
        Log("error - %s (shown before)", text.c_str());
        return buttons == MbButtons::Ok ? MbResult::Ok : MbResult::Yes;
    }
    return inner_.Show(text, caption, buttons, icon);
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
    settings_.LoadSettings();
    config_.Load();
    music_.volume = config_.music.volume;
    voice_.volume = config_.voice.volume;
    timers_.SetHandler([this](int id) { OnTimer(id); });
}

OnHoldPlayer::~OnHoldPlayer() {
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
}

void OnHoldPlayer::InitAudioDevice() {
    Guid guid;
    std::memcpy(guid.data(), settings_.device.data(), guid.size());
    const uint32_t code = SoundDevice::Create(IsNullGuid(guid) ? nullptr : &guid, options_.output,
                                              device_, options_.directRate);
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
    if (!device_) return;
    // An unreadable file does not silence the channel: the following tracks are
    // tried, at most one pass of the list.
    const size_t attempts = list.tracks.size();
    for (size_t i = 0; i < attempts; ++i) {
        std::string path;
        int pass = 0;
        if (!list.NextTrack(path, pass)) return;
        SoundSlot& next = channel.next;
        next.path = path;
        uint32_t size = 0;
        const bool loaded =
            LoadSound(next.buffer, next.fileData, path, size, device_.get(), loadBoxes_);
        next.byteLength = size;
        next.passNumber = pass;
        Log(isMusic ? "status - preload music %s" : "status - preload voice %s",
            ShownName(path, isMusic).c_str());
        if (loaded && next.fileData) return;
    }
}

void OnHoldPlayer::PreloadMusic() {
    Preload(music_, config_.music, true);
}
void OnHoldPlayer::PreloadVoice() {
    Preload(voice_, config_.voice, false);
}

void OnHoldPlayer::Play(AudioChannel& channel, bool isMusic) {
    if (!channel.next.fileData) return;
    channel.current = std::move(channel.next);
    channel.next = SoundSlot{};
    ApplyLevels();
    if (channel.current.buffer) channel.current.buffer->Play();
    if (isMusic) {
        SelectMusicRow();
        musicWatchdog_ = -5;
    } else {
        SelectVoiceRow();
        voiceWatchdog_ = -5;
    }
    channel.seenPlaying = false;
    Log(isMusic ? "status - play music %s" : "status - play voice %s",
        ShownName(channel.current.path, isMusic).c_str());
}

void OnHoldPlayer::PlayMusic() {
    Play(music_, true);
}
void OnHoldPlayer::PlayVoice() {
    Play(voice_, false);
}

void OnHoldPlayer::Stop(AudioChannel& channel, int& watchdog) {
    if (channel.current.fileData) channel.current.Free();  // the path stays until the next play
    watchdog = 30;
}

void OnHoldPlayer::StopMusic() {
    Stop(music_, musicWatchdog_);
}
void OnHoldPlayer::StopVoice() {
    Stop(voice_, voiceWatchdog_);
}

void OnHoldPlayer::DropNext(AudioChannel& channel) {
    if (channel.next.fileData) channel.next.Free();
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
    if (id == kTimerTick) {
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
    switch (id) {
        case kTimerStart:
            timers_.Stop(kTimerStart);
            if (config_.voice.HasTracks())
                automaton_.ArmVoiceGap(config_.voice.GapSeconds() * 1000);
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
            if (--voiceWatchdog_ == 0) Log("error - 30 seconds gone by without voice audio");
            if (--musicWatchdog_ == 0) Log("error - 30 seconds gone by without music audio");
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
    // Nothing preloaded (a file was missing, or nothing was in schedule): try again.
    if (!channel.next.fileData) isMusic ? PreloadMusic() : PreloadVoice();
    if (!channel.next.fileData) return;
    isMusic ? automaton_.DisarmMusicGap() : automaton_.DisarmVoiceGap();
    automaton_.HandleEvent(isMusic ? "mussil" : "vocsil");
}

void OnHoldPlayer::DetectEnd(AudioChannel& channel, bool isMusic) {
    SoundBuffer* buffer = channel.current.buffer.get();
    if (!buffer) return;
    uint32_t cursor = 0;
    buffer->GetCurrentPosition(&cursor);
    if (cursor != 0) {
        channel.seenPlaying = true;
        return;
    }
    // A sound shorter than a tick may end before any tick sees it move: the buffer
    // says that it played to its end.
    if (!channel.seenPlaying && !buffer->HasFinished()) return;
    Log(isMusic ? "status - music track finished" : "status - voice track finished");
    automaton_.HandleEvent(isMusic ? "musfin" : "vocfin");
}

void OnHoldPlayer::UpdateProgress() {
    // 64-bit: a cursor times 100 overflows 32 bits past 42 MB.
    auto percent = [](const SoundSlot& s) {
        uint32_t cursor = 0;
        s.buffer->GetCurrentPosition(&cursor);
        return s.byteLength ? static_cast<int>(uint64_t{cursor} * 100 / s.byteLength) : 0;
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
    ShowPlayingState();
    // Both current sounds halt where they are, and resume from there.
    for (bool isMusic : {true, false}) {
        SoundSlot& current = (isMusic ? music_ : voice_).current;
        if (!current.fileData) continue;
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
    SetChannelVolume(isMusic, position);
    config_.SetVolumeAndSave(isMusic, position);
}

void OnHoldPlayer::RefreshFileLists() {
    config_.ResetPositions();
    const std::vector<std::string> musicRows = OnePass(config_.music, true);
    const std::vector<std::string> voiceRows = OnePass(config_.voice, false);
    view_.SetFileLists(voiceRows, musicRows);
}

void OnHoldPlayer::SelectMusicRow() {
    view_.SelectMusicRow(music_.current.passNumber);
}
void OnHoldPlayer::SelectVoiceRow() {
    view_.SelectVoiceRow(voice_.current.passNumber);
}

void OnHoldPlayer::ReloadConfiguration() {
    config_.Load();
    RefreshFileLists();
    RestartPlayback();
    view_.SetMusicProgress(0);
    view_.SetVoiceProgress(0);
}

bool OnHoldPlayer::CloseNeedsConfirmation() const {
    return isPlaying_ &&
           (config_.music.CountInSchedule() != 0 || config_.voice.CountInSchedule() != 0);
}

}  // namespace tw
