#pragma once

// The on-hold choreography: 22 state lines on an Fsa, and the action each state
// runs when it is entered. Music fades down 15 dB in 20 steps of 0.75 dB before a
// voice message and back up after it. Main thread only.

#include <string>

#include "Fsa.h"
#include "OnHoldChannels.h"
#include "TimerService.h"

namespace tw {

enum TimerId {
    kTimerStart = 10,
    kTimerMusicGap = 11,
    kTimerVoiceGap = 12,
    kTimerFadeUp = 13,
    kTimerFadeDown = 14,
    kTimerTick = 999,
};

extern const char* const kOnHoldStateLines[22];

class OnHoldAutomaton {
  public:
    OnHoldAutomaton(OnHoldChannels& channels, TimerService& timers);

    void HandleEvent(const char* event);
    void AssertPlay(bool music, bool voice, const std::string& state);

    void ArmMusicGap(int64_t periodMs);
    void ArmVoiceGap(int64_t periodMs);
    // Stops each of the timers 11 to 14 whose flag is set.
    void DisarmAll();
    void DisarmMusicGap();
    void DisarmVoiceGap();

    Fsa& fsa() { return fsa_; }
    const Fsa& fsa() const { return fsa_; }
    std::string StateName() const;

    bool musicGapArmed() const { return musicGapArmed_; }
    bool voiceGapArmed() const { return voiceGapArmed_; }
    bool fadeUpArmed() const { return fadeUpArmed_; }
    bool fadeDownArmed() const { return fadeDownArmed_; }
    bool automatonHalted() const { return automatonHalted_; }
    // Inside a state's action: no event may be handled now.
    bool busy() const { return inAction_; }
    // After a halt: clears the latch and disarms every timer; the driver then
    // starts a new cycle.
    void Reset();

  private:
    void RunAction(const std::string& state);
    void Arm(int id, int64_t periodMs, bool& flag);
    void Disarm(int id, bool& flag);
    void FadeStep(int fadeOffset);

    OnHoldChannels& channels_;
    TimerService& timers_;
    Fsa fsa_;
    bool musicGapArmed_ = false;
    bool voiceGapArmed_ = false;
    bool fadeUpArmed_ = false;
    bool fadeDownArmed_ = false;
    bool automatonHalted_ = false;
    bool inAction_ = false;
};

}  // namespace tw
