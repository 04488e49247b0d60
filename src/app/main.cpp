#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "AppSettings.h"
#include "AtomicFile.h"
#include "AudioConfig.h"
#include "Clock.h"
#include "CommandLine.h"
#include "Headless.h"
#include "LiveOutputs.h"
#include "Log.h"
#include "Loudness.h"
#include "OnHoldDlg.h"
#include "Outputs.h"
#include "Paths.h"
#include "PipeSink.h"
#include "RenderRun.h"
#include "ScheduleCoverage.h"
#include "SoundFileWriter.h"
#include "SingleInstance.h"
#include "Skin.h"
#include "StreamEncoder.h"
#include "StreamSink.h"
#include "OptionTable.h"
#include "TonewellConf.h"
#include "WebPassword.h"
#include "WebServer.h"
#include "WorkingFolder.h"

namespace {

const char* const kAlreadyRunning =
    "Please note that Tonewell is already running.  There is no need to run more than one "
    "instance.";

// One line of standard input; on a terminal, asked without echo.
std::string ReadSecretLine(const char* prompt) {
    const bool terminal = ::isatty(0);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        tcgetattr(0, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(0, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(0, TCSANOW, &saved);
        std::fputs("\n", stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// --set-web-password: the web console's password into "web.passwd" of the working
// folder, from standard input (asked twice on a terminal); never from the command
// line, where others could read it.
int SetWebPasswordRun() {
    std::string password = ReadSecretLine("New web console password: ");
    if (const std::string problem = tw::NewPasswordProblem(password); !problem.empty()) {
        tw::WipeSecret(password);
        std::fprintf(stderr, "tonewell: %s; nothing was changed\n", problem.c_str());
        return 2;
    }
    if (::isatty(0)) {
        std::string again = ReadSecretLine("The same again: ");
        const bool same = again == password;
        tw::WipeSecret(again);
        if (!same) {
            tw::WipeSecret(password);
            std::fprintf(stderr, "tonewell: the two passwords differ; nothing was changed\n");
            return 2;
        }
    }
    std::string why;
    const bool saved = tw::SetWebPassword(password, why);
    tw::WipeSecret(password);
    if (!saved) {
        std::fprintf(stderr, "tonewell: the password cannot be saved: %s\n", why.c_str());
        return 1;
    }
    std::error_code ec;
    std::fprintf(stderr, "tonewell: the web console's password is set in %s/%s\n",
                 std::filesystem::current_path(ec).c_str(), tw::kWebPasswordFile);
    return 0;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tonewell: %s (see tonewell --help)\n", problem.c_str());
    return 2;
}

int ListDevices() {
    tw::EnumerateOutputs(
        [](const tw::Guid* guid, const std::string& description, const std::string&) {
            std::printf("%s  %s\n", guid ? tw::GuidText(*guid).c_str() : "(default)",
                        description.c_str());
            return true;
        });
    return 0;
}

// The report of --coverage, on the lists of "audio.cfg" (or "default.cfg" before a
// first run) as playback would read them; nothing is written.
int CoverageRun(const tw::LocalTime& start, int days) {
    std::string text;
    if (!tw::ReadWholeFile("audio.cfg", text) && !tw::ReadWholeFile("default.cfg", text)) {
        std::fprintf(stderr, "tonewell: no audio.cfg or default.cfg in the working folder\n");
        return 2;
    }
    tw::VirtualClock clock(start);
    tw::ConsoleMessageBox boxes;
    tw::AudioConfig config(clock, boxes);
    config.LoadText(text);
    const auto music = tw::ScheduleCoverage(config.music.tracks).UncoveredDays(start, days);
    const auto voice = tw::ScheduleCoverage(config.voice.tracks).UncoveredDays(start, days);
    bool covered = false;
    std::fputs(tw::CoverageReport(music, voice, covered).c_str(), stdout);
    std::printf("%s.\n%s.\n", tw::CoverageSummary(music, true, !config.music.HasTracks()).c_str(),
                tw::CoverageSummary(voice, false, !config.voice.HasTracks()).c_str());
    return covered ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Sounds, streams and console connections share one table of file handles: the
    // soft limit a service starts with (1024) is raised to what the system allows,
    // so that no flood of connections leaves a voice message unable to open.
    if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    tw::CommandLine line;
    if (std::string problem; !tw::ParseCommandLine(argc, argv, line, problem)) return Usage(problem);
    if (line.Has("help")) {
        std::fputs(tw::HelpText().c_str(), stdout);
        return 0;
    }
    if (line.Has("version")) {
        std::printf("Tonewell %s\n", TONEWELL_VERSION);
        return 0;
    }
    auto value = [&line](const char* name) {
        const auto it = line.values.find(name);
        return it == line.values.end() ? std::string() : it->second;
    };
    if (line.Has("log")) tw::SetLogEnabled(true);
    const std::string logLevel = value("log-level");
    if (line.Has("log-level")) {
        tw::LogLevel level;
        if (!tw::ParseLogLevel(logLevel, level)) return Usage("--log-level takes info or trace");
        tw::SetLogEnabled(true);
        tw::SetLogLevel(level);
    }
    const bool headless = line.Has("headless"), automation = line.Has("automation");
    const bool render = line.Has("render"), coverage = line.Has("coverage");
    const bool setWebPassword = line.Has("set-web-password");
    std::string renderOut = value("render");
    const std::string workdir = value("workdir"), seconds = value("seconds"), start = value("start");
    if (line.Has("preset")) {
        const std::string preset = value("preset");
        if (!tw::OptionValueValid(*tw::FindOption("preset"), preset))
            return Usage("--preset takes phone, ulaw or alaw");
        line.values.emplace("rate", "8000");
        line.values.emplace("channels", "1");
        line.values.emplace("encoding", preset == "phone" ? "pcm16" : preset);
    }
    if (line.Has("list-devices")) return ListDevices();
    if (!workdir.empty()) {
        // Everything the program reads and writes is relative to this one folder,
        // chosen here, before anything is read; a file to render keeps its place.
        std::error_code ec;
        if (!std::filesystem::is_directory(workdir, ec))
            return Usage("--workdir " + workdir + " is not a folder");
        if (render && !renderOut.empty())
            renderOut = std::filesystem::absolute(renderOut, ec).string();
        std::filesystem::current_path(workdir, ec);
        if (ec) return Usage("--workdir " + workdir + ": " + ec.message());
        // A new service's state folder starts with the installed content, as a new
        // account's desktop folder does.
        if (!coverage && !render && !setWebPassword && tw::IsFreshFolder(".")) {
            std::string why;
            if (!tw::FillFromInstalled(".", why)) tw::Log("error - %s: nothing to play yet", why.c_str());
        }
    }
    // Started from the menu, or where there is nothing of ours: the folder of our
    // own. (A render works where it is asked to.)
    std::string folderProblem;
    if (workdir.empty() && !render && !coverage && (line.Has("desktop") || !tw::HasConfiguration(".")) &&
        !tw::EnterDesktopFolder(folderProblem))
        folderProblem = "Tonewell cannot use its data folder: " + folderProblem +
                        ".\nIt runs with nothing to play.";

    if (setWebPassword) return SetWebPasswordRun();

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    // The report and the render read the command line alone, judged by the table.
    const tw::TonewellConf noFile;
    tw::Settings onLine(line, noFile);
    if (coverage) {
        const int dayCount = onLine.GetNumber("days");
        if (!onLine.problem().empty()) return Usage(onLine.problem());
        tw::LocalTime from = tw::SystemClock().Now();
        if (line.Has("from") && !tw::ParseLocalTime(value("from") + " 00:00:00", from))
            return Usage("--from needs a date YYYY-MM-DD");
        return CoverageRun(from, dayCount);
    }
    if (render) {
        tw::RenderOptions options;
        options.outPath = renderOut;
        if (line.Has("rate")) options.format.rate = onLine.GetNumber("rate");
        if (line.Has("channels")) options.format.channels = onLine.GetNumber("channels");
        if (!onLine.problem().empty()) return Usage(onLine.problem());
        if (line.Has("encoding")) options.format.encoding = value("encoding");
        options.progress = ::isatty(2);
        char* end = nullptr;
        const long long n = seconds.empty() ? -1 : std::strtoll(seconds.c_str(), &end, 10);
        // As long as the file type holds: 4 GiB of samples in a WAV or AU file.
        const long long most = tw::MostSecondsFor(renderOut, options.format);
        if (seconds.empty() || *end != '\0' || n <= 0 || n > most)
            return Usage("--seconds needs a whole number of seconds, 1 to " + std::to_string(most) +
                         " for this file");
        // A file in a folder that is not there is said before anything plays.
        std::error_code ec;
        const auto parent = std::filesystem::path(renderOut).parent_path();
        if (!parent.empty() && !std::filesystem::is_directory(parent, ec))
            return Usage("--render " + renderOut + ": the folder " + parent.string() +
                         " does not exist");
        options.seconds = n;
        if (start.empty()) {
            options.start = tw::SystemClock().Now();
        } else if (!tw::ParseLocalTime(start, options.start)) {
            return Usage("--start needs \"YYYY-MM-DD HH:MM:SS\"");
        }
        return tw::RenderRun(options);
    }

    // The live output: the command line, else tonewell.conf, else the sound card.
    tw::TonewellConf conf;
    if (!conf.Load()) std::fprintf(stderr, "tonewell: tonewell.conf cannot be read; ignored\n");
    for (const std::string& problem : conf.problems)
        std::fprintf(stderr, "tonewell: %s\n", problem.c_str());
    // A value given on the command line must be right (status 2 otherwise); a bad
    // one in tonewell.conf is said with its line, and the default is used. Every
    // setting is looked at now, so that each bad one is said at the start.
    tw::Settings settings(line, conf);
    for (const tw::OptionSpec& spec : tw::OptionTable())
        if (spec.where & tw::kInConf) settings.Get(spec.name);
    if (logLevel.empty()) {
        tw::LogLevel level = tw::LogLevel::Trace;
        if (tw::ParseLogLevel(settings.Get("log-level"), level)) tw::SetLogLevel(level);
    }
    if (!settings.problem().empty()) return Usage(settings.problem());
    // The web console: off unless asked for, on the loopback unless an address is given.
    std::optional<tw::WebOptions> web;
    if (const std::string where = settings.Get("web"); !where.empty()) {
        tw::WebOptions options;
        std::string why;
        if (tw::ParseWebAddress(where, options, why)) {
            options.certFile = conf.Get("web-cert");
            options.keyFile = conf.Get("web-key");
            std::string names = conf.Get("web-host");
            std::replace(names.begin(), names.end(), ',', ' ');
            std::istringstream words(names);
            for (std::string name; words >> name;) options.hosts.push_back(name);
            web = options;
        } else if (settings.FromCommandLine("web")) {
            return Usage("--web: " + why);
        } else {
            std::fprintf(stderr, "tonewell: %s: %s; no web console\n", conf.Where("web").c_str(),
                         why.c_str());
        }
    }
    tw::LiveOutputs outputs;
    if (std::string problem; !tw::MakeLiveOutputs(settings, headless, outputs, problem))
        return Usage(problem.empty() ? settings.problem() : problem);
    const tw::OutputMode mode = outputs.mode;
    if (headless) {
        QCoreApplication app(argc, argv);
        std::unique_ptr<tw::InstanceLock> lock;
        if (!tw::AcquireInstanceLock(lock, true)) {
            tw::ConsoleMessageBox().Show(kAlreadyRunning, "Tonewell");
            return 1;
        }
        if (automation) {
            tw::AppSettings temporary;
            temporary.LoadSettings();
            if (temporary.autoStart == 0) return 0;
        }
        if (!folderProblem.empty()) tw::ConsoleMessageBox().Show(folderProblem, "Tonewell");
        return tw::RunHeadless(mode, outputs.sinks, web ? &*web : nullptr);
    }

    // A window needs a display; without one Qt would abort.
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && v[0];
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM"))
        return Usage("there is no display for the window (DISPLAY is not set); play without one "
                     "with --headless");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tonewell"));
    // Every window and box carries the program's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tonewell/icon.svg")));
    std::unique_ptr<tw::InstanceLock> lock;
    if (!tw::AcquireInstanceLock(lock)) {
        // The running window comes forward instead; the box only when it cannot.
        if (tw::AskRunningWindowForward()) {
            if (!workdir.empty())
                std::fprintf(stderr,
                             "tonewell: the Tonewell window already running came forward; it keeps "
                             "its own working folder, not %s (a headless player may run there: "
                             "--headless --workdir %s)\n",
                             workdir.c_str(), workdir.c_str());
            return 0;
        }
        tw::QtMessageBox().Show(kAlreadyRunning, "Tonewell");
        return 1;
    }
    bool startMinimized = false;
    if (automation) {
        tw::AppSettings temporary;
        temporary.LoadSettings();
        if (temporary.autoStart == 0) return 0;
        startMinimized = temporary.trayIcon != 0;
    }
    tw::InitSkin();
    if (!folderProblem.empty()) tw::QtMessageBox().Show(folderProblem, "Tonewell");
    int code = 0;
    {
        tw::OnHoldDlg::Options options;
        options.startMinimized = startMinimized;
        options.output = mode;
        options.sinks = outputs.sinks;
        options.web = web;
        tw::OnHoldDlg window(options);
        // The window is not run as a modal dialog: hiding it to the tray would end
        // that loop, and the program with it. Only the window's own close (the
        // confirmation, or Quit in the tray menu) ends the application's loop, and a
        // box closed while the window is in the tray is not the last window closing.
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(&window, &QDialog::finished, &app, &QCoreApplication::quit);
        tw::ListenForSecondStarts(&window, [&window] { window.BringForward(); });
        window.show();
        code = QApplication::exec();
    }
    tw::ShutdownSkin();
    return code;
}
