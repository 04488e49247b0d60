#include "OnHoldAutomaton.h"

#include <cstring>

#include "Log.h"

namespace tw {

const char* const kOnHoldStateLines[22] = {
    "start:         mussil->musbgn_vocsil",
    "musbgn_vocsil:       ->musctn_vocsil",
    "musctn_vocsil: musfin->musfin_vocsil, vocsil->dwnbgn_vocsil",
    "musfin_vocsil:       ->mussil_vocsil",
    "mussil_vocbgn:       ->mussil_vocctn",
    "mussil_vocctn: vocfin->mussil_vocfin, mussil->muspsd_vocctn",
    "mussil_vocfin:       ->mussil_vocsil",
    "mussil_vocsil: mussil->musbgn_vocsil, vocsil->mussil_vocbgn",
    "dwnbgn_vocsil:       ->dwnctn_vocsil",
    "dwnctn_vocsil: musfin->dwnabt_vocsil, dwnstp->20#dwnctn_vocsil, dwnstp->dwnfin_vocsil",
    "dwnfin_vocsil:       ->mussft_vocbgn",
    "dwnabt_vocsil:       ->muspsd_vocbgn",
    "mussft_vocbgn:       ->mussft_vocctn",
    "mussft_vocctn: musfin->muspsd_vocctn, vocfin->mussft_vocfin",
    "mussft_vocfin:       ->upbgn_vocsil",
    "muspsd_vocbgn:       ->muspsd_vocctn",
    "muspsd_vocctn: vocfin->muspsd_vocfin",
    "muspsd_vocfin:       ->musbgn_vocsil",
    "upbgn_vocsil:        ->upctn_vocsil",
    "upctn_vocsil:  musfin->upabt_vocsil, upstp->20#upctn_vocsil, upstp->upfin_vocsil",
    "upfin_vocsil:        ->musctn_vocsil",
    "upabt_vocsil:        ->mussil_vocsil",
};

OnHoldAutomaton::OnHoldAutomaton(OnHoldChannels& channels, TimerService& timers)
    : channels_(channels), timers_(timers) {
    for (const char* line : kOnHoldStateLines) fsa_.AddState(line);
}

std::string OnHoldAutomaton::StateName() const {
    std::string name;
    fsa_.GetStateName(name);
    return name;
}

void OnHoldAutomaton::HandleEvent(const char* event) {
    if (automatonHalted_) return;
    if (inAction_) {
        // An event from a loop nested in an action would meet a state that is only
        // half entered; the driver raises it again on a later tick.
        Log("error - event %s while an action runs, left for later", event ? event : "(null)");
        return;
    }
    fsa_.Dispatch(event);
    std::string state;
    if (!fsa_.GetStateName(state)) {
        automatonHalted_ = true;
        return;
    }
    inAction_ = true;
    RunAction(state);
    inAction_ = false;
    if (fsa_.HasAutomaticTransition()) HandleEvent(nullptr);
}

void OnHoldAutomaton::Reset() {
    DisarmAll();
    fsa_.ClearError();
    automatonHalted_ = false;
}

void OnHoldAutomaton::AssertPlay(bool music, bool voice, const std::string& state) {
    if (channels_.MusicHasCurrent() != music)
        Log("error - AssertPlay failed in state (%s) due to music", state.c_str());
    if (channels_.VoiceHasCurrent() != voice)
        Log("error - AssertPlay failed in state (%s) due to voice", state.c_str());
}

void OnHoldAutomaton::Arm(int id, int64_t periodMs, bool& flag) {
    timers_.Start(id, periodMs);
    flag = true;
}

void OnHoldAutomaton::Disarm(int id, bool& flag) {
    timers_.Stop(id);
    flag = false;
}

void OnHoldAutomaton::ArmMusicGap(int64_t periodMs) {
    Arm(kTimerMusicGap, periodMs, musicGapArmed_);
}
void OnHoldAutomaton::ArmVoiceGap(int64_t periodMs) {
    Arm(kTimerVoiceGap, periodMs, voiceGapArmed_);
}
void OnHoldAutomaton::DisarmMusicGap() {
    Disarm(kTimerMusicGap, musicGapArmed_);
}
void OnHoldAutomaton::DisarmVoiceGap() {
    Disarm(kTimerVoiceGap, voiceGapArmed_);
}

void OnHoldAutomaton::DisarmAll() {
    if (musicGapArmed_) Disarm(kTimerMusicGap, musicGapArmed_);
    if (voiceGapArmed_) Disarm(kTimerVoiceGap, voiceGapArmed_);
    if (fadeUpArmed_) Disarm(kTimerFadeUp, fadeUpArmed_);
    if (fadeDownArmed_) Disarm(kTimerFadeDown, fadeDownArmed_);
}

void OnHoldAutomaton::FadeStep(int fadeOffset) {
    if (!channels_.MusicHasCurrent()) return;
    channels_.SetMusicCurrentLevel(channels_.ChannelLevel(true, fadeOffset));
}

void OnHoldAutomaton::RunAction(const std::string& s) {
    const int n = fsa_.LastUseCount();
    if (s == "musbgn_vocsil") {
        AssertPlay(false, false, s);
        channels_.PlayMusic();
        channels_.PreloadMusic();
    } else if (s == "musctn_vocsil") {
        AssertPlay(true, false, s);
    } else if (s == "musfin_vocsil") {
        AssertPlay(true, false, s);
        channels_.StopMusic();
        ArmMusicGap(int64_t{channels_.MusicGapSeconds()} * 1000);
    } else if (s == "mussil_vocbgn") {
        AssertPlay(false, false, s);
        channels_.PlayVoice();
        channels_.PreloadVoice();
    } else if (s == "mussil_vocctn") {
        AssertPlay(false, true, s);
    } else if (s == "mussil_vocfin") {
        AssertPlay(false, true, s);
        channels_.StopVoice();
        ArmVoiceGap(int64_t{channels_.VoiceGapSeconds()} * 1000);
    } else if (s == "mussil_vocsil") {
        AssertPlay(false, false, s);
    } else if (s == "dwnbgn_vocsil") {
        AssertPlay(true, false, s);
        Arm(kTimerFadeDown, 100, fadeDownArmed_);
    } else if (s == "dwnctn_vocsil") {
        AssertPlay(true, false, s);
        FadeStep((-1500 * n) / 20);
    } else if (s == "dwnfin_vocsil") {
        Disarm(kTimerFadeDown, fadeDownArmed_);
        AssertPlay(true, false, s);
    } else if (s == "dwnabt_vocsil") {
        Disarm(kTimerFadeDown, fadeDownArmed_);
        AssertPlay(true, false, s);
        channels_.StopMusic();
    } else if (s == "mussft_vocbgn") {
        AssertPlay(true, false, s);
        channels_.PlayVoice();
        channels_.PreloadVoice();
    } else if (s == "mussft_vocctn") {
        AssertPlay(true, true, s);
    } else if (s == "mussft_vocfin") {
        AssertPlay(true, true, s);
        channels_.StopVoice();
    } else if (s == "muspsd_vocbgn") {
        AssertPlay(false, false, s);
        channels_.PlayVoice();
        channels_.PreloadVoice();
    } else if (s == "muspsd_vocctn") {
        channels_.StopMusic();
        AssertPlay(false, true, s);
    } else if (s == "muspsd_vocfin") {
        AssertPlay(false, true, s);
        channels_.StopVoice();
        ArmVoiceGap(int64_t{channels_.VoiceGapSeconds()} * 1000);
    } else if (s == "upbgn_vocsil") {
        AssertPlay(true, false, s);
        Arm(kTimerFadeUp, 100, fadeUpArmed_);
    } else if (s == "upctn_vocsil") {
        AssertPlay(true, false, s);
        FadeStep((-1500 * (20 - n)) / 20);
    } else if (s == "upfin_vocsil") {
        Disarm(kTimerFadeUp, fadeUpArmed_);
        AssertPlay(true, false, s);
        ArmVoiceGap(int64_t{channels_.VoiceGapSeconds()} * 1000);
    } else if (s == "upabt_vocsil") {
        Disarm(kTimerFadeUp, fadeUpArmed_);
        AssertPlay(true, false, s);
        channels_.StopMusic();
        ArmMusicGap(int64_t{channels_.MusicGapSeconds()} * 1000);
        ArmVoiceGap(int64_t{channels_.VoiceGapSeconds()} * 1000);
    } else {
        Log("error - Unrecognized state (%s) in Dlg::HandleEvent", s.c_str());
    }
}

}  // namespace tw
