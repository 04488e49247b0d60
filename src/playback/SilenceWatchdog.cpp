#include "SilenceWatchdog.h"

#include <algorithm>

#include "Log.h"

namespace tw {

void SilenceWatchdog::Sounding(bool isMusic) {
    Channel& c = channel(isMusic);
    c.silent = -1;
    c.handled = false;
    c.logged = false;
}

void SilenceWatchdog::Stopped(bool isMusic) {
    Channel& c = channel(isMusic);
    if (c.silent < 0) c.silent = 0;
}

void SilenceWatchdog::CycleStarted() {
    for (Channel* c : {&music_, &voice_})
        if (c->silent < 0) c->silent = 0;
}

void SilenceWatchdog::Restarted() {
    for (Channel* c : {&music_, &voice_}) {
        c->silent = -1;
        c->handled = false;
        c->logged = false;
    }
}

void SilenceWatchdog::PausedOrResumed() {
    for (Channel* c : {&music_, &voice_}) {
        if (c->silent > 0) c->silent = 0;
        c->handled = false;
        c->logged = false;
    }
}

SilenceWatchdog::Result SilenceWatchdog::Tick(const Facts& music, const Facts& voice) {
    const Result m = Watch(music_, music, true);
    if (m.verdict != Verdict::Quiet) return m;
    return Watch(voice_, voice, false);
}

SilenceWatchdog::Result SilenceWatchdog::Watch(Channel& c, const Facts& facts, bool isMusic) {
    if (c.silent < 0) return {};
    // Music that waits under a message is the cycle's own silence: it counts from
    // the message's end.
    if (facts.coveredBy) {
        c.silent = 0;
        return {};
    }
    ++c.silent;
    // The cycle's own gap is no fault: 30 seconds past it is.
    if (!c.logged && facts.inSchedule > 0 && c.silent >= facts.gapSeconds + 30) {
        c.logged = true;
        Log("error - 30 seconds gone by without %s audio", isMusic ? "music" : "voice");
    }
    if (c.handled) return {};
    const int64_t limit = isMusic ? 30 + facts.gapSeconds : std::max<int64_t>(2 * facts.gapSeconds, 20);
    if (c.silent < limit || facts.inSchedule == 0) return {};
    c.handled = true;
    return {facts.loadable > 0 ? Verdict::Restart : Verdict::Unplayable, isMusic, c.silent,
            facts.inSchedule};
}

}  // namespace tw
