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

void OnSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int RunHeadless(OutputMode output, const std::vector<PcmSink*>& sinks, const WebOptions* web) {
    // A signal only writes its number; the main loop reads it and acts in order.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    OnHoldPlayer* playing = nullptr;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&playing] {
        // Everything that arrived at once: fifty SIGHUPs are one reload.
        char bytes[64];
        const ssize_t n = ::recv(g_signalPipe[0], bytes, sizeof bytes, MSG_DONTWAIT);
        bool stop = false, reload = false, status = false;
        for (ssize_t i = 0; i < n; ++i) {
            const int signal = bytes[i];
            if (signal == SIGHUP) reload = true;
            else if (signal == SIGUSR1) status = true;
            else stop = true;
            if (signal == SIGQUIT) Log("error - SIGQUIT received");
        }
        if (stop) {
            Log("status - stopping");
            QCoreApplication::quit();
            return;
        }
        if (!playing) return;
        if (reload) {
            Log("status - SIGHUP: reading audio.cfg and tonewell.conf again");
            if (!playing->ReloadIfChanged("SIGHUP") && !playing->listsProblem().empty())
                Log("error - %s; the lists that play are kept", playing->listsProblem().c_str());
            playing->RereadTonewellConf();
        }
        if (status) {
            Log("status - %s", playing->StatusText().c_str());
            // One line for each output: several would not fit in one.
            for (const auto& [name, state] : playing->OutputStates())
                Log("status - output %s", state.c_str());
        }
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGUSR1})
        sigaction(signal, &action, nullptr);

    SystemClock clock;
    QtTimerService timers;
    ConsoleMessageBox boxes;
    NullView view;
    OnHoldPlayer::Options options;
    options.output = output;
    options.sinks = sinks;
    options.startAlways = true;
    options.backgroundPreload = true;
    int code = 0;
    {
        OnHoldPlayer player(clock, timers, boxes, view, options);
        playing = &player;
        player.Initialise();
        std::unique_ptr<WebServer> console;
        if (web) console = StartWebConsole(*web, player, boxes);
        code = QCoreApplication::exec();
        playing = nullptr;
    }  // sounds released here
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    return code;
}

}  // namespace tw
