#pragma once

// Watches the two channels for silence the on-hold cycle does not make itself:
// music waits for its gap (and, paused under a message, for the message), voice
// for its gap and a fade. A silence longer than that, while a track in schedule
// could be loaded, restarts playback once; when every track in schedule failed to
// load, a restart cannot help, so nothing is restarted and the player says why.
//
// Every count starts afresh at a restart, a pause and a resume: the silence of an
// earlier cycle never counts against the new one.
//
// It also keeps the plain 30-second watchdogs, which only write to the log: a
// channel silent 30 seconds past its own gap, with something in schedule, is
// said once per silence.
//
// Main thread only: one Tick a second from the player's one-second timer.

#include <cstdint>

namespace tw {

class SilenceWatchdog {
  public:
    // What the player knows of one channel at a tick.
    struct Facts {
        int64_t gapSeconds = 0;   // the channel's gap as its timer runs it
        int inSchedule = 0;       // tracks of its list in schedule now
        int loadable = 0;         // of those, the ones not known to fail to load
        bool coveredBy = false;   // music only: a voice message plays over it
    };

    enum class Verdict {
        Quiet,       // nothing to do
        Restart,     // restart playback
        Unplayable,  // too long silent, and every track in schedule failed to load
    };

    struct Result {
        Verdict verdict = Verdict::Quiet;
        bool isMusic = false;
        int silentSeconds = 0;
        int inSchedule = 0;  // the channel's tracks in schedule, to say why
    };

    // A sound started on the channel: it sounds, nothing counts.
    void Sounding(bool isMusic);
    // The channel's sound ended or was stopped: its silence counts from now.
    void Stopped(bool isMusic);
    // The cycle starts: a channel that does not sound counts from now.
    void CycleStarted();
    // Playback restarts: nothing counts until the new cycle starts.
    void Restarted();
    // Paused or resumed: every silence counts afresh from now.
    void PausedOrResumed();

    // One second of playing time. Music is looked at first; at most one channel
    // gets a verdict other than Quiet.
    Result Tick(const Facts& music, const Facts& voice);

    // Seconds the channel has been silent while playing; -1 while it sounds or
    // before the cycle starts.
    int silentSeconds(bool isMusic) const { return channel(isMusic).silent; }

  private:
    struct Channel {
        int silent = -1;
        bool handled = false;  // this silence already got its verdict
        bool logged = false;   // this silence was said in the log
    };
    Channel& channel(bool isMusic) { return isMusic ? music_ : voice_; }
    const Channel& channel(bool isMusic) const { return isMusic ? music_ : voice_; }
    Result Watch(Channel& c, const Facts& facts, bool isMusic);

    Channel music_;
    Channel voice_;
};

}  // namespace tw
