#include <gtest/gtest.h>

#include "LogCapture.h"
#include "SilenceWatchdog.h"

using namespace tw;

namespace {

using Verdict = SilenceWatchdog::Verdict;

SilenceWatchdog::Facts Channel(int gap, int inSchedule = 1, int loadable = 1) {
    SilenceWatchdog::Facts f;
    f.gapSeconds = gap;
    f.inSchedule = inSchedule;
    f.loadable = loadable;
    return f;
}

// Ticks until a verdict other than Quiet; the tick it came at, or -1.
int TicksToVerdict(SilenceWatchdog& w, const SilenceWatchdog::Facts& music,
                   const SilenceWatchdog::Facts& voice, Verdict* verdict = nullptr, int most = 400) {
    for (int t = 1; t <= most; ++t) {
        const auto r = w.Tick(music, voice);
        if (r.verdict != Verdict::Quiet) {
            if (verdict) *verdict = r.verdict;
            return t;
        }
    }
    return -1;
}

}  // namespace

// The limits: music 30 s past its gap, voice twice its gap but at least 20 s;
// a pause, a resume and a restart each start the count again; one verdict per
// silence.
TEST(SilenceWatchdog, CountsAfreshAfterARestartAPauseOrAResume) {
    SilenceWatchdog w;
    w.CycleStarted();
    w.Sounding(true);
    w.Stopped(false);  // a message ended
    EXPECT_EQ(TicksToVerdict(w, Channel(2), Channel(10), nullptr, 12), -1);
    w.Restarted();  // 12 s later
    EXPECT_EQ(w.silentSeconds(false), -1);
    EXPECT_EQ(TicksToVerdict(w, Channel(2), Channel(10), nullptr, 1), -1);  // the start second
    w.CycleStarted();
    w.Sounding(true);
    EXPECT_EQ(TicksToVerdict(w, Channel(2), Channel(10)), 20);
    EXPECT_EQ(TicksToVerdict(w, Channel(2), Channel(10), nullptr, 100), -1);  // once

    SilenceWatchdog p;
    p.CycleStarted();
    p.Sounding(true);
    EXPECT_EQ(TicksToVerdict(p, Channel(2), Channel(60), nullptr, 100), -1);
    p.PausedOrResumed();
    EXPECT_EQ(TicksToVerdict(p, Channel(2), Channel(60)), 120);

    SilenceWatchdog m;
    m.CycleStarted();
    m.Sounding(false);
    EXPECT_EQ(TicksToVerdict(m, Channel(45), Channel(60)), 75);
}

// A message longer than the song: the music's silence under it is the cycle's
// own, and counts only from the message's end. Nothing in schedule, nothing
// said; nothing loadable, no restart but one word.
TEST(SilenceWatchdog, MessagesCoverTheMusicAndUnloadableListsAreOnlySaid) {
    SilenceWatchdog w;
    w.CycleStarted();
    w.Sounding(false);
    w.Stopped(true);
    SilenceWatchdog::Facts covered = Channel(2);
    covered.coveredBy = true;
    EXPECT_EQ(TicksToVerdict(w, covered, Channel(600), nullptr, 200), -1);
    EXPECT_EQ(TicksToVerdict(w, Channel(2), Channel(600)), 32);

    SilenceWatchdog none;
    none.CycleStarted();
    none.Sounding(true);
    EXPECT_EQ(TicksToVerdict(none, Channel(2), Channel(10, 0, 0), nullptr, 300), -1);
    Verdict verdict = Verdict::Quiet;
    EXPECT_EQ(TicksToVerdict(none, Channel(2), Channel(10, 3, 0), &verdict), 1);
    EXPECT_EQ(verdict, Verdict::Unplayable);
    EXPECT_EQ(TicksToVerdict(none, Channel(2), Channel(10, 3, 0), nullptr, 300), -1);
}

// The 30-second log line: a message gap of 30 s is the cycle's own silence and
// says nothing; 30 s past the gap is said once; an empty list never.
TEST(SilenceWatchdog, TheLogLineCountsFromTheEndOfTheGap) {
    const std::string voiceLine = "error - 30 seconds gone by without voice audio";
    test::LogCapture log;
    SilenceWatchdog w;
    w.CycleStarted();
    w.Sounding(true);
    for (int cycle = 0; cycle < 5; ++cycle) {  // five ordinary message cycles
        w.Sounding(false);
        w.Stopped(false);
        for (int t = 0; t < 30; ++t) w.Tick(Channel(2), Channel(30));
    }
    EXPECT_FALSE(log.Has(voiceLine));
    w.Sounding(false);  // the last message, then none
    w.Stopped(false);
    int said = 0;
    for (int t = 1; t <= 200; ++t) {
        w.Tick(Channel(2), Channel(30));
        if (log.Has(voiceLine) && said == 0) said = t;
    }
    EXPECT_EQ(said, 60);
    EXPECT_EQ(log.With("error - 30 seconds").size(), 1u);

    test::LogCapture empty;
    SilenceWatchdog e;
    e.CycleStarted();
    e.Sounding(true);
    for (int t = 0; t < 300; ++t) e.Tick(Channel(2), Channel(30, 0, 0));
    EXPECT_TRUE(empty.With("error - 30 seconds").empty());
}
