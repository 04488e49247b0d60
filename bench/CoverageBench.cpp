// How long the schedule coverage of a year takes for a long list (target: 500
// tracks in under 100 ms), with every kind of schedule mixed in.

#include <benchmark/benchmark.h>

#include <random>

#include "ScheduleCoverage.h"

namespace {

// `ranged`: every track has both ranges, so that no track covers a whole day and
// every day looks at every track (the slowest case).
std::vector<tw::Track> Tracks(int count, bool ranged) {
    std::mt19937 random(7);
    auto pick = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    std::vector<tw::Track> tracks(static_cast<size_t>(count));
    for (tw::Track& t : tracks) {
        t.schedule.dateRangeOn = ranged || pick(0, 1);
        t.schedule.dateFrom = {2026, pick(1, 12), pick(1, 28)};
        t.schedule.dateTo = {2026, pick(1, 12), pick(1, 28)};
        t.schedule.timeRangeOn = ranged || pick(0, 1);
        t.schedule.timeFrom = {pick(0, 23), pick(0, 59), 0};
        t.schedule.timeTo = {pick(0, 23), pick(0, 59), 0};
    }
    return tracks;
}

void YearOfCoverage(benchmark::State& state) {
    const auto tracks = Tracks(static_cast<int>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        const auto days = tw::ScheduleCoverage(tracks).UncoveredDays({2027, 1, 1}, 365);
        benchmark::DoNotOptimize(tw::CoverageSummary(days, true, false));
    }
}
BENCHMARK(YearOfCoverage)
    ->ArgsProduct({{50, 500, 5000}, {0, 1}})
    ->ArgNames({"tracks", "all_ranged"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
