#include "Headless.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#include "Log.h"
#include "OnHoldPlayer.h"
#include "QtTimerService.h"

namespace tw {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int RunHeadless(OutputMode output, PcmSink* sink, const WebOptions* web) {
    // A signal only writes a byte; the main loop sees it and quits in order.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        Log("status - stopping");
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    SystemClock clock;
    QtTimerService timers;
    ConsoleMessageBox boxes;
    NullView view;
    OnHoldPlayer::Options options;
    options.output = output;
    options.sink = sink;
    options.startAlways = true;
    options.backgroundPreload = true;
    int code = 0;
    {
        OnHoldPlayer player(clock, timers, boxes, view, options);
        player.Initialise();
        std::unique_ptr<WebServer> console;
        if (web) console = StartWebConsole(*web, player, boxes);
        code = QCoreApplication::exec();
    }  // sounds released here
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    return code;
}

}  // namespace tw
