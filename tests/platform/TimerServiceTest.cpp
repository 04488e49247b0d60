#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "TimerService.h"

using namespace tw;

namespace {

struct Fixture {
    VirtualClock clock;
    VirtualTimerService timers{clock};
    std::vector<std::pair<int64_t, int>> fired;
    Fixture() {
        timers.SetHandler([this](int id) { fired.push_back({clock.ElapsedMs(), id}); });
    }
};

TEST(VirtualTimerService, FiresInTimeOrderAndRepeats) {
    Fixture f;
    f.timers.Start(1, 300);
    f.timers.Start(2, 200);
    f.timers.Advance(650);
    std::vector<std::pair<int64_t, int>> want{{200, 2}, {300, 1}, {400, 2}, {600, 1}, {600, 2}};
    EXPECT_EQ(f.fired, want);
    EXPECT_EQ(f.clock.ElapsedMs(), 650);
}

TEST(VirtualTimerService, StartRestartsAndStopEnds) {
    Fixture f;
    f.timers.Start(7, 1000);
    f.timers.Advance(900);
    f.timers.Start(7, 1000);  // restarts: next tick at 1900, not 1000
    f.timers.Advance(1000);
    ASSERT_EQ(f.fired.size(), 1u);
    EXPECT_EQ(f.fired[0].first, 1900);
    f.timers.Stop(7);
    EXPECT_FALSE(f.timers.IsRunning(7));
    f.timers.Advance(5000);
    EXPECT_EQ(f.fired.size(), 1u);
}

TEST(VirtualTimerService, TimerStartedInsideATickCountsFromThatMoment) {
    Fixture f;
    f.timers.SetHandler([&](int id) {
        f.fired.push_back({f.clock.ElapsedMs(), id});
        if (id == 1) {
            f.timers.Stop(1);
            f.timers.Start(2, 100);
        }
    });
    f.timers.Start(1, 250);
    f.timers.Advance(500);
    std::vector<std::pair<int64_t, int>> want{{250, 1}, {350, 2}, {450, 2}};
    EXPECT_EQ(f.fired, want);
}

TEST(VirtualClock, AdvancesAcrossMidnightAndYearEnd) {
    VirtualClock clock({2026, 12, 31, 23, 59, 59});
    clock.AdvanceMs(1500);
    LocalTime t = clock.Now();
    EXPECT_EQ(t.year, 2027);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.second, 0);
}

}  // namespace
