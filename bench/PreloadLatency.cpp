// How late the one-second tick and the 100 ms fade steps fire while a long MP3 is
// preloaded. Runs the real player on Qt timers and the null output in the current
// working folder (prepared by bench/preload-lateness), with the preload on the
// worker thread or, for comparison, on the main thread ("inline").
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Log.h"
#include "OnHoldPlayer.h"
#include "QtTimerService.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool inlineLoads = argc > 1 && std::strcmp(argv[1], "inline") == 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 40;

    tw::SystemClock clock;
    tw::QtTimerService timers;
    tw::ConsoleMessageBox boxes;
    tw::NullView view;
    tw::OnHoldPlayer::Options options;
    options.output = tw::OutputMode::Null;
    options.startAlways = true;
    options.backgroundPreload = !inlineLoads;
    tw::OnHoldPlayer player(clock, timers, boxes, view, options);

    // Every tick passes through here on its way to the player: the gap to the
    // previous tick of the same id, less its period, is how late it came.
    QElapsedTimer since;
    since.start();
    std::map<int, qint64> last;
    std::map<int, qint64> worst;
    std::map<int, int> count;
    timers.SetHandler([&](int id) {
        const qint64 now = since.elapsed();
        const int period = id == tw::kTimerTick ? 1000 : 100;
        if ((id == tw::kTimerTick || id == tw::kTimerFadeDown || id == tw::kTimerFadeUp) &&
            last.count(id)) {
            worst[id] = std::max(worst[id], now - last[id] - period);
            ++count[id];
        }
        last[id] = now;
        player.OnTimer(id);
        // A fade timer that was stopped and started again starts a new run.
        if ((id == tw::kTimerFadeDown || id == tw::kTimerFadeUp) && !timers.IsRunning(id))
            last.erase(id);
    });
    // When the long MP3 was asked for and arrived, and when the fades ran: the
    // figures only mean something if they overlap.
    std::vector<std::pair<qint64, std::string>> events;
    tw::SetLogEnabled(true);
    tw::SetLogCapture([&](const std::string& line) {
        for (const char* what :
             {"status - play music B\\song.wav", "status - preload music B\\long.mp3",
              "FSA - Entering state: dwnbgn_vocsil", "FSA - Entering state: upfin_vocsil"})
            if (line == what) events.emplace_back(since.elapsed(), line);
    });
    player.Initialise();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QCoreApplication::exec();

    std::printf("preload on the %s thread, %d s\n", inlineLoads ? "main" : "worker", seconds);
    std::printf("  one-second tick: %d ticks, latest %lld ms late\n", count[tw::kTimerTick],
                static_cast<long long>(worst[tw::kTimerTick]));
    const qint64 fadeWorst = std::max(worst[tw::kTimerFadeDown], worst[tw::kTimerFadeUp]);
    std::printf("  fade steps: %d steps, latest %lld ms late\n",
                count[tw::kTimerFadeDown] + count[tw::kTimerFadeUp],
                static_cast<long long>(fadeWorst));
    for (const auto& [ms, line] : events)
        std::printf("  %6.2f s  %s\n", static_cast<double>(ms) / 1000.0, line.c_str());
    tw::SetLogCapture(nullptr);
    return 0;
}
