#pragma once

// Everything that plays for the whole run, without a window: the settings, the
// track lists, the sound device, the music and voice channels, the on-hold
// automaton and the driver that turns timer ticks into its events. The main window
// owns one and shows it through PlayerView; headless and render runs do the same
// with no window.
//
// Main thread only, like the timers, clock and message boxes it is given. The
// sound device renders on the audio thread (see SoundBuffer).

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AppSettings.h"
#include "AtomicFile.h"
#include "AudioConfig.h"
#include "Clock.h"
#include "LoadSound.h"
#include "Loudness.h"
#include "MeasuringThread.h"
#include "MessageBox.h"
#include "MessageThread.h"
#include "OnHoldAutomaton.h"
#include "PcmSink.h"
#include "PlayerView.h"
#include "SilenceWatchdog.h"
#include "SoundDevice.h"
#include "TimerService.h"

namespace tw {

struct TonewellConf;

extern const char* const kTitlePlaying;  // "Tonewell v1.0"
extern const char* const kTitlePaused;   // "Tonewell v1.0 (paused)"

struct SoundSlot {
    std::unique_ptr<SoundBuffer> buffer;   // null when the sound has no buffer
    std::shared_ptr<SoundStream> stream;  // a slot is loaded exactly when this is set
    std::string path;
    uint64_t byteLength = 0;
    bool trimKnown = true;  // false until the sound's loudness has been measured
    bool dryLogged = false;
    int passNumber = 0;
    void Free();
};

struct AudioChannel {
    SoundSlot current;
    SoundSlot next;
    bool seenPlaying = false;
    int volume = 10;
    // Preloading: a read in flight is known by its ticket; a later ticket (a drop
    // or a restart) makes its result stale.
    bool loading = false;
    uint64_t ticket = 0;
    size_t attemptsLeft = 0;
    bool gapWaiting = false;  // the gap timer found nothing preloaded
    bool endNow = false;      // the playing sound left its list: it ends at the next tick
};

// Shows each distinct message once per run; repeats only go to the log, so no pile
// of boxes waits for a user who is not there. Every box is a notice: it never
// waits, so nothing nests inside the caller.
class OncePerRunBoxes : public MessageBox {
  public:
    explicit OncePerRunBoxes(MessageBox& inner) : inner_(inner) {}

  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override;

  private:
    MessageBox& inner_;
    std::set<std::string> shown_;
};

class OnHoldPlayer : private OnHoldChannels {
  public:
    struct Options {
        OutputMode output = OutputMode::Device;
        int directRate = 44100;    // mixer rate when output is Direct
        bool startAlways = false;  // start playing whatever the settings say
        // Read and decode preloads on a worker thread (real-time runs); otherwise
        // at once, so that a virtual clock sees the same sequence every time.
        bool backgroundPreload = false;
        // Where OutputMode::Sink plays, or what plays beside the sound card; they
        // outlive the player.
        std::vector<PcmSink*> sinks;
    };

    // Reads "settings.cfg" and "audio.cfg" (copying "default.cfg" on a first run).
    OnHoldPlayer(const Clock& clock, TimerService& timers, MessageBox& boxes, PlayerView& view,
                 Options options);
    ~OnHoldPlayer();  // stops the timers and releases every sound

    // The window's initialisation: device and preloads, levels, the one-second
    // tick, the file lists, and the start one second later (or paused).
    void Initialise();

    void OnTimer(int id);
    void TogglePlayback();
    void RestartPlayback();
    void ApplyLevels();
    void SetChannelVolume(bool isMusic, int volume);
    // A volume slider moved: the level changes at once and "audio.cfg" is saved.
    void OnVolumeSlider(bool isMusic, int position);
    void UpdateProgress();
    void RefreshFileLists();
    void SelectMusicRow();
    void SelectVoiceRow();
    // Reload the lists and start a new cycle.
    void ReloadConfiguration();
    // After Manage Audio saved: new gaps, volumes or order are taken as the
    // console's edits are, without a break; only changed tracks or schedules
    // start a new cycle.
    void TakeSavedLists();
    // Takes lists edited elsewhere (the web console, a hand edit) without a new
    // cycle: what plays goes on and the message timer keeps counting; volumes at
    // once, gaps from the next gap, tracks and order from the next track, where
    // the list stands now. Only a playing sound that left its list stops (as if
    // it had ended). `fresh` must hold the text it was read from or saved as.
    void AdoptConfiguration(const AudioConfig& fresh);
    // Looks whether "audio.cfg" changed on disk since it was read or saved, and
    // takes it when it did and reads whole; one that does not is left out (the
    // lists that play go on) and `listsProblem` says which line is wrong. `cause`
    // names what asked, for the log. True when new lists were taken.
    bool ReloadIfChanged(const char* cause);
    // Why "audio.cfg" on disk is not what plays ("" when it is).
    const std::string& listsProblem() const { return listsProblem_; }
    // Says once per run, in a box, that something could not be saved and why;
    // every time in the log.
    void ReportSaveProblem(const std::string& text);
    // The status line: what plays on each channel, how long until the next voice
    // message, or why nothing plays.
    std::string StatusText();
    // Where the mix goes, and how that goes ("sound card", "stream: retrying ..."):
    // each output's state, joined.
    std::string OutputState() const;
    // The calls a media server output holds (now -1 without one).
    PcmSink::CallCounts Calls() const;
    // Each output's name ("device", "null", "pipe", "icecast", "rtp", "sip") and state.
    std::vector<std::pair<std::string, std::string>> OutputStates() const;
    // Seconds until the next voice message is due, or -1 (one plays, none is armed,
    // or paused).
    int64_t NextMessageInSeconds() const;
    // Stored name -> why it did not load, for the tracks that failed.
    const std::map<std::string, std::string>& failedTracks() const { return failed_; }
    // Loudness levelling as "tonewell.conf" says; applies to sounds loaded from now.
    void ReadLevellingSettings();
    // What of "tonewell.conf" applies while playing, read again (SIGHUP, or the
    // file changed): the levelling and the log level.
    void RereadTonewellConf();
    Leveller& leveller() { return *leveller_; }
    // Whether closing must be confirmed: playing with a track in schedule.
    bool CloseNeedsConfirmation() const;

    void InitAudioDevice();
    void PreloadMusic() override;
    void PreloadVoice() override;
    void PlayMusic() override;
    void PlayVoice() override;
    void StopMusic() override;
    void StopVoice() override;
    void DropNextMusic();
    void DropNextVoice();
    int ChannelLevel(bool isMusic, int fadeOffset) const override;

    bool isPlaying() const { return isPlaying_; }
    bool neverStarted() const { return neverStarted_; }
    const AudioChannel& music() const { return music_; }
    const AudioChannel& voice() const { return voice_; }
    AudioConfig& config() { return config_; }
    AppSettings& settings() { return settings_; }
    OnHoldAutomaton& automaton() { return automaton_; }
    SoundDevice* device() { return device_.get(); }

  private:
    // Every output keeps one channel: sounds are made mono once, as they load.
    bool MonoOutputs() const;
    bool MusicHasCurrent() const override { return music_.current.stream != nullptr; }
    bool VoiceHasCurrent() const override { return voice_.current.stream != nullptr; }
    void SetMusicCurrentLevel(int level) override;
    int MusicGapSeconds() const override { return config_.music.GapSeconds(); }
    int VoiceGapSeconds() const override { return config_.voice.GapSeconds(); }

    void Preload(AudioChannel& channel, TrackList& list, bool isMusic);
    // Asks for the list's next track, trying the following ones while reads fail.
    void RequestNext(AudioChannel& channel, TrackList& list, bool isMusic);
    // A read came back (main thread): fills the next slot, or tries the next track.
    void Preloaded(bool isMusic, uint64_t ticket, const std::string& path, int pass,
                   const LoadedSound& sound, bool trimKnown);
    // One tick of silence watching; true when it restarted playback.
    bool WatchSilence();
    SilenceWatchdog::Facts SilenceFacts(bool isMusic) const;
    void RecoverFromHalt();
    void Play(AudioChannel& channel, bool isMusic);
    void Stop(AudioChannel& channel, bool isMusic);
    void DropNext(AudioChannel& channel);
    // A gap timer fired: raise "mussil" or "vocsil" once a next sound is ready.
    void GapEnded(bool isMusic);
    void DetectEnd(AudioChannel& channel, bool isMusic);
    // A stream whose reads fall behind: logged once, and ended as a failed load
    // once it has had nothing to play for 5 seconds. True when it ended.
    bool EndStalled(AudioChannel& channel, bool isMusic);
    // A loudness measured beside the playing has come back for a loaded sound.
    void Measured(bool isMusic, const std::shared_ptr<SoundStream>& stream, int gain);
    void ShowPlayingState();
    void ShowStatus();
    void ShowFailedTracks();
    void Teardown();
    void HandleTimer(int id);
    // Why a channel plays nothing ("" when it is only between tracks).
    std::string NothingPlays(bool isMusic);

    const Clock& clock_;
    TimerService& timers_;
    MessageBox& boxes_;
    OncePerRunBoxes loadBoxes_;
    PlayerView& view_;
    Options options_;

    AppSettings settings_;
    AudioConfig config_;
    std::unique_ptr<SoundDevice> device_;
    AudioChannel music_;
    AudioChannel voice_;
    SilenceWatchdog watchdog_;
    OnHoldAutomaton automaton_;
    bool isPlaying_ = true;
    bool neverStarted_ = false;
    int tickCount_ = 0;
    uint64_t tickets_ = 0;
    bool saveProblemShown_ = false;
    std::string listsProblem_;
    FileStamp configStamp_, confStamp_;
    // "tonewell.conf" changed on disk: what of it applies while playing is read again.
    void RereadConfIfChanged();
    void ApplyLevelling(const TonewellConf& conf);
    std::map<std::string, std::string> failed_;  // stored name -> why it did not load
    std::shared_ptr<Leveller> leveller_;         // shared with the preload worker
    struct Until {  // when a channel's list is next in schedule, worked out once a minute
        int64_t minuteKey = -1;
        bool found = false;
        LocalTime at;
    } until_[2];
    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();  // for posted results
    std::unique_ptr<MeasuringThread> measurer_;  // long passes over whole files, beside the reads
    std::unique_ptr<MessageThread> worker_;    // last: gone first, before what it uses
};

}  // namespace tw
