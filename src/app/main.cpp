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
#include "Headless.h"
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
#include "TonewellConf.h"
#include "WebPassword.h"
#include "WebServer.h"
#include "WorkingFolder.h"

namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;

const char* const kAlreadyRunning =
    "Please note that Tonewell is already running.  There is no need to run more than one "
    "instance.";

void PrintHelp() {
    std::printf(
        "Usage: tonewell [options]\n"
        "A music-on-hold player: music tracks with voice messages over a faded song.\n"
        "All files are read and written in the current working folder.\n\n"
        "  (no option)  the main window\n"
        "  -automation  an automatic start at login: ends at once when \"Start automatically\"\n"
        "               is off in the settings, starts in the tray when the tray is on\n"
        "               (also /Automation, any letter case)\n"
        "  --headless   play without a window; SIGINT or SIGTERM stops it\n"
        "  --output device|null|pipe|icecast\n"
        "               with --headless: the sound card (the default), real time into\n"
        "               nothing, raw signed 16-bit little-endian PCM on standard output\n"
        "               for a phone system, or a stream to an Icecast server\n"
        "  --rate R --channels C\n"
        "               the pipe's or stream's rate (8000 to 192000, default 8000) and\n"
        "               channels (1 or 2, default 1); for --render, the file's\n"
        "  --stream-url icecast://source@HOST:PORT/MOUNT\n"
        "  --stream-format mp3|opus   --stream-bitrate K (8 to 320 kb/s, default 64)\n"
        "               the stream; give its password in the environment variable\n"
        "               TONEWELL_STREAM_PASSWORD, or in stream-url in tonewell.conf with\n"
        "               mode 0600 (a password in the URL on the command line can be read\n"
        "               by other users; special characters in it are percent-encoded)\n"
        "  --render OUT --seconds N [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
        "               play N seconds on a virtual clock into the file OUT instead of a\n"
        "               sound output; its type comes from its name (.wav, .flac, .ogg,\n"
        "               .au); by default 16-bit stereo at 44100 Hz; --start sets the clock\n"
        "  --encoding pcm16|ulaw|alaw|float\n"
        "               the samples of a rendered file\n"
        "  --preset phone|ulaw|alaw\n"
        "               8000 Hz mono 16-bit, G.711 u-law or A-law: files a phone system\n"
        "               plays\n"
        "The live output's settings may also stand in tonewell.conf in the working folder\n"
        "(lines of key = value: output, rate, channels, stream-url, stream-format,\n"
        "stream-bitrate); the command line wins. There too: loudness = on evens out the\n"
        "loudness of the tracks (loudness-music, default -20 LUFS; loudness-voice, -16).\n"
        "  --coverage [--from YYYY-MM-DD] [--days N]\n"
        "               for each day (from today, 365 days by default), the times at which\n"
        "               no music track and no voice message is in schedule; exit status 0\n"
        "               when every minute is covered, 1 otherwise\n"
        "  --web [ADDRESS:]PORT\n"
        "               the web console (on 127.0.0.1 unless an address is given);\n"
        "               also web = ... in tonewell.conf, with web-cert and web-key for\n"
        "               HTTPS, and web-host for the names it is reached by\n"
        "  --set-web-password\n"
        "               set the web console's password, read from standard input\n"
        "  --list-devices\n"
        "               print each sound output's description and GUID\n"
        "  --desktop    work in $XDG_DATA_HOME/tonewell (filled from the installed data\n"
        "               on first use), as when started from the applications menu\n"
        "  --workdir DIR\n"
        "               work in DIR instead of the current folder\n"
        "  --log        write the player's log lines on stderr\n"
        "  --log-level info|trace\n"
        "               with info, only what an admin reads (plays, messages, errors,\n"
        "               outputs, console actions), an error repeated within an hour\n"
        "               counted instead of written; trace (with --log alone) adds the\n"
        "               automaton's states; also log-level = ... in tonewell.conf\n"
        "  --help       show this text\n"
        "  --version    show the version\n");
}

// A password on the command line is seen by every local user (ps, /proc/PID/cmdline)
// until it is gone from the process's arguments: it is blanked out as soon as it
// is read, and the safer forms are recommended.
void HidePassword(char* url) {
    size_t length = 0;
    const size_t at = tw::PasswordSpan(url, length);
    if (length == 0) return;
    std::memset(url + at, 'x', length);
    std::fprintf(stderr,
                 "tonewell: warning: a password on the command line can be read by other users; "
                 "put it in TONEWELL_STREAM_PASSWORD or in tonewell.conf (mode 0600) instead\n");
}

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

// "/Automation", "-automation", "--AUTOMATION": the automatic-start switch.
bool IsAutomationSwitch(const std::string& arg) {
    size_t i = 0;
    while (i < arg.size() && (arg[i] == '-' || arg[i] == '/')) ++i;
    return i > 0 && tw::AsciiLower(arg.substr(i)) == "automation";
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
    std::string renderOut, seconds, start, workdir;
    // Live output and file settings given on the command line (they win over
    // tonewell.conf): output, rate, channels, stream-url, stream-format,
    // stream-bitrate, encoding.
    std::map<std::string, std::string> given;
    bool render = false, headless = false, automation = false, listDevices = false, desktop = false;
    bool coverage = false, setWebPassword = false;
    std::string from, days, logLevel;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--help") {
            PrintHelp();
            return 0;
        } else if (arg == "--version") {
            std::printf("Tonewell %s\n", TONEWELL_VERSION);
            return 0;
        } else if (arg == "--log") {
            tw::SetLogEnabled(true);
        } else if (arg == "--log-level") {
            tw::LogLevel level;
            if (!value(logLevel) || !tw::ParseLogLevel(logLevel, level))
                return Usage("--log-level takes info or trace");
            tw::SetLogEnabled(true);
            tw::SetLogLevel(level);
        } else if (arg == "--headless") {
            headless = true;
        } else if (arg == "--list-devices") {
            listDevices = true;
        } else if (arg == "--output" || arg == "--rate" || arg == "--channels" ||
                   arg == "--stream-url" || arg == "--stream-format" || arg == "--stream-bitrate" ||
                   arg == "--encoding") {
            if (!value(given[arg.substr(2)])) return Usage(arg + " needs a value");
            if (arg == "--stream-url") HidePassword(argv[i]);
        } else if (arg == "--preset") {
            std::string preset;
            if (!value(preset)) return Usage("--preset needs phone, ulaw or alaw");
            if (preset != "phone" && preset != "ulaw" && preset != "alaw")
                return Usage("--preset takes phone, ulaw or alaw");
            given.emplace("rate", "8000");
            given.emplace("channels", "1");
            given.emplace("encoding", preset == "phone" ? "pcm16" : preset);
        } else if (arg == "--render") {
            render = true;
            if (!value(renderOut)) return Usage("--render needs a file name");
        } else if (arg == "--seconds") {
            if (!value(seconds)) return Usage("--seconds needs a number");
        } else if (arg == "--coverage") {
            coverage = true;
        } else if (arg == "--from") {
            if (!value(from)) return Usage("--from needs a date");
        } else if (arg == "--days") {
            if (!value(days)) return Usage("--days needs a number");
        } else if (arg == "--web") {
            if (!value(given["web"])) return Usage("--web needs [ADDRESS:]PORT");
        } else if (arg == "--set-web-password") {
            setWebPassword = true;
        } else if (arg == "--desktop") {
            desktop = true;
        } else if (arg == "--workdir") {
            if (!value(workdir)) return Usage("--workdir needs a folder");
        } else if (arg == "--start") {
            if (!value(start)) return Usage("--start needs a date and time");
        } else if (IsAutomationSwitch(arg)) {
            automation = true;
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (listDevices) return ListDevices();
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
    if (workdir.empty() && !render && !coverage && (desktop || !tw::HasConfiguration(".")) &&
        !tw::EnterDesktopFolder(folderProblem))
        folderProblem = "Tonewell cannot use its data folder: " + folderProblem +
                        ".\nIt runs with nothing to play.";

    if (setWebPassword) return SetWebPasswordRun();

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    int rate = 0, channels = 0;
    auto number = [](const std::string& text, int low, int high, int& into) {
        char* end = nullptr;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || n < low || n > high) return false;
        into = static_cast<int>(n);
        return true;
    };
    if (coverage) {
        int dayCount = 365;
        if (!days.empty() && !number(days, 1, 3660, dayCount))
            return Usage("--days takes 1 to 3660");
        tw::LocalTime start = tw::SystemClock().Now();
        if (!from.empty() && !tw::ParseLocalTime(from + " 00:00:00", start))
            return Usage("--from needs a date YYYY-MM-DD");
        return CoverageRun(start, dayCount);
    }
    if (render) {
        tw::RenderOptions options;
        options.outPath = renderOut;
        if (given.count("rate") && !number(given["rate"], kMinRate, kMaxRate, options.format.rate))
            return Usage("--rate takes 8000 to 192000");
        if (given.count("channels") && !number(given["channels"], 1, 2, options.format.channels))
            return Usage("--channels takes 1 or 2");
        if (given.count("encoding")) options.format.encoding = given["encoding"];
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
    // one in tonewell.conf is said with its line, and the default is used.
    std::string badOption;
    auto setting = [&](const std::string& key, const std::string& fallback,
                       const std::function<bool(const std::string&)>& valid,
                       const std::string& rule) {
        if (const auto it = given.find(key); it != given.end()) {
            if (!valid(it->second) && badOption.empty()) badOption = "--" + key + " takes " + rule;
            return it->second;
        }
        const std::string value = conf.Get(key, fallback);
        if (valid(value)) return value;
        std::fprintf(stderr, "tonewell: %s: %s takes %s; %s is used\n", conf.Where(key).c_str(),
                     key.c_str(), rule.c_str(), fallback.c_str());
        return fallback;
    };
    auto numberIn = [&number](int low, int high) {
        return [&number, low, high](const std::string& text) {
            int n = 0;
            return number(text, low, high, n);
        };
    };
    auto oneOf = [](std::vector<std::string> words) {
        return [words = std::move(words)](const std::string& text) {
            return std::find(words.begin(), words.end(), text) != words.end();
        };
    };
    // The file's output is the headless service's; a window started in the same
    // folder plays on the sound card unless its own command line says otherwise.
    const auto outputs = oneOf({"device", "null", "pipe", "icecast"});
    const char* const outputRule = "device, null, pipe or icecast";
    const std::string output =
        headless ? setting("output", "device", outputs, outputRule)
                 : (given.count("output") ? setting("output", "device", outputs, outputRule)
                                          : std::string("device"));
    number(setting("rate", "8000", numberIn(kMinRate, kMaxRate), "8000 to 192000"), kMinRate,
           kMaxRate, rate);
    number(setting("channels", "1", numberIn(1, 2), "1 or 2"), 1, 2, channels);
    const std::string streamFormat =
        setting("stream-format", "mp3", oneOf({"mp3", "opus"}), "mp3 or opus");
    // Loudness levelling is read by the player; a bad value is said here, with its line.
    setting("loudness", "off", oneOf({"on", "off"}), "on or off");
    auto lufs = [](const std::string& text) {
        double target = 0;
        return tw::ParseLufsTarget(text, target);
    };
    setting("loudness-music", "-20", lufs, "-40 to -5 (LUFS)");
    setting("loudness-voice", "-16", lufs, "-40 to -5 (LUFS)");
    if (logLevel.empty()) {
        tw::LogLevel level = tw::LogLevel::Trace;
        if (const std::string text = conf.Get("log-level"); !text.empty()) {
            if (tw::ParseLogLevel(text, level))
                tw::SetLogLevel(level);
            else
                std::fprintf(stderr, "tonewell: %s: log-level takes info or trace; trace is used\n",
                             conf.Where("log-level").c_str());
        }
    }
    int kbps = 64;
    number(setting("stream-bitrate", "64", numberIn(8, 320), "8 to 320 (kb/s)"), 8, 320, kbps);
    if (!badOption.empty()) return Usage(badOption);
    // The web console: off unless asked for, on the loopback unless an address is given.
    std::optional<tw::WebOptions> web;
    if (const std::string where = given.count("web") ? given["web"] : conf.Get("web");
        !where.empty()) {
        tw::WebOptions options;
        std::string why;
        if (tw::ParseWebAddress(where, options, why)) {
            options.certFile = conf.Get("web-cert");
            options.keyFile = conf.Get("web-key");
            std::string names = conf.Get("web-host");
            for (char& c : names)
                if (c == ',') c = ' ';
            std::istringstream words(names);
            for (std::string name; words >> name;) options.hosts.push_back(name);
            web = options;
        } else if (given.count("web")) {
            return Usage("--web: " + why);
        } else {
            std::fprintf(stderr, "tonewell: %s: %s; no web console\n", conf.Where("web").c_str(),
                         why.c_str());
        }
    }
    if ((output == "pipe" || output == "icecast") && !headless)
        return Usage("--output " + output + " needs --headless");
    std::unique_ptr<tw::PcmSink> sink;
    if (output == "pipe") {
        std::string why;
        if (!tw::CanWriteTo(1, why)) return Usage("--output pipe: " + why);
        // A reader that goes away ends the program as it asked; any other failed
        // write (a full disk) is an error.
        sink = std::make_unique<tw::PipeSink>(1, rate, channels, [](int error) {
            if (error != EPIPE)
                std::fprintf(stderr, "tonewell: the audio cannot be written to standard output: %s\n",
                             std::strerror(error));
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [error] { QCoreApplication::exit(error == EPIPE ? 0 : 1); },
                Qt::QueuedConnection);
        });
    } else if (output == "icecast") {
        tw::StreamTarget target;
        std::string why;
        const auto url = given.find("stream-url");
        if (url == given.end() && conf.Get("stream-url").empty())
            return Usage("the icecast output needs a stream URL: --stream-url, or stream-url in "
                         "tonewell.conf");
        if (!tw::ParseStreamUrl(url != given.end() ? url->second : conf.Get("stream-url"), target,
                                why))
            return Usage((url != given.end() ? "--stream-url: " : conf.Where("stream-url") + ": ") +
                         why);
        if (const char* password = std::getenv("TONEWELL_STREAM_PASSWORD");
            password && target.password.empty())
            target.password = password;
        target.format = streamFormat;
        target.kbps = kbps;
        target.rate = rate;
        target.channels = channels;
        // Refused formats are said now, not once a server answers.
        if (!tw::StreamEncoder::Make(target.format, rate, channels, target.kbps, why))
            return Usage("--stream-format " + target.format + ": " + why);
        sink = std::make_unique<tw::StreamSink>(target);
    }
    // A reader or server that goes away is seen as a failed write, not as a signal
    // that kills the program.
    if (sink) std::signal(SIGPIPE, SIG_IGN);
    const tw::OutputMode mode = sink               ? tw::OutputMode::Sink
                                : output == "null" ? tw::OutputMode::Null
                                                   : tw::OutputMode::Device;
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
        return tw::RunHeadless(mode, sink.get(), web ? &*web : nullptr);
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
