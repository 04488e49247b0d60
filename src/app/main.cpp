#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "AppSettings.h"
#include "Clock.h"
#include "Headless.h"
#include "Log.h"
#include "OnHoldDlg.h"
#include "Outputs.h"
#include "Paths.h"
#include "RenderRun.h"
#include "SingleInstance.h"
#include "Skin.h"
#include "WorkingFolder.h"

namespace {

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
        "  --output null\n"
        "               with --headless: play in real time into no output\n"
        "  --render OUT.wav --seconds N [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
        "               play N seconds on a virtual clock into OUT.wav (16-bit stereo,\n"
        "               44100 Hz) instead of a sound output; --start sets the clock\n"
        "  --list-devices\n"
        "               print each sound output's description and GUID\n"
        "  --desktop    work in $XDG_DATA_HOME/tonewell (filled from the installed data\n"
        "               on first use), as when started from the applications menu\n"
        "  --workdir DIR\n"
        "               work in DIR instead of the current folder\n"
        "  --log        write the player's log lines on stderr\n"
        "  --help       show this text\n"
        "  --version    show the version\n");
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

}  // namespace

int main(int argc, char** argv) {
    std::string renderOut, seconds, start, output = "device", workdir;
    bool render = false, headless = false, automation = false, listDevices = false, desktop = false;
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
        } else if (arg == "--headless") {
            headless = true;
        } else if (arg == "--list-devices") {
            listDevices = true;
        } else if (arg == "--output") {
            if (!value(output) || (output != "null" && output != "device"))
                return Usage("--output takes null or device");
        } else if (arg == "--render") {
            render = true;
            if (!value(renderOut)) return Usage("--render needs a file name");
        } else if (arg == "--seconds") {
            if (!value(seconds)) return Usage("--seconds needs a number");
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
    }
    // Started from the menu, or where there is nothing of ours: the folder of our
    // own. (A render works where it is asked to.)
    std::string folderProblem;
    if (workdir.empty() && !render && (desktop || !tw::HasConfiguration(".")) &&
        !tw::EnterDesktopFolder(folderProblem))
        folderProblem = "Tonewell cannot use its data folder: " + folderProblem +
                        ".\nIt runs with nothing to play.";

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    if (render) {
        tw::RenderOptions options;
        options.outPath = renderOut;
        char* end = nullptr;
        const long long n = seconds.empty() ? -1 : std::strtoll(seconds.c_str(), &end, 10);
        // A WAV file holds at most 4 GiB: 24347 s of 16-bit stereo at 44100 Hz.
        if (seconds.empty() || *end != '\0' || n <= 0 || n > 24347)
            return Usage("--seconds needs a whole number of seconds, 1 to 24347");
        options.seconds = n;
        if (start.empty()) {
            options.start = tw::SystemClock().Now();
        } else if (!tw::ParseLocalTime(start, options.start)) {
            return Usage("--start needs \"YYYY-MM-DD HH:MM:SS\"");
        }
        return tw::RenderRun(options);
    }

    const tw::OutputMode mode = output == "null" ? tw::OutputMode::Null : tw::OutputMode::Device;
    if (headless) {
        QCoreApplication app(argc, argv);
        std::unique_ptr<QLockFile> lock;
        if (!tw::AcquireInstanceLock(lock)) {
            tw::ConsoleMessageBox().Show(kAlreadyRunning, "Tonewell");
            return 1;
        }
        if (automation) {
            tw::AppSettings temporary;
            temporary.LoadSettings();
            if (temporary.autoStart == 0) return 0;
        }
        if (!folderProblem.empty()) tw::ConsoleMessageBox().Show(folderProblem, "Tonewell");
        return tw::RunHeadless(mode);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tonewell"));
    // Every window and box carries the program's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tonewell/icon.svg")));
    std::unique_ptr<QLockFile> lock;
    if (!tw::AcquireInstanceLock(lock)) {
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
        tw::OnHoldDlg window(options);
        // The window is not run as a modal dialog: hiding it to the tray would end
        // that loop, and the program with it. Only the window's own close (the
        // confirmation, or Quit in the tray menu) ends the application's loop, and a
        // box closed while the window is in the tray is not the last window closing.
        QApplication::setQuitOnLastWindowClosed(false);
        QObject::connect(&window, &QDialog::finished, &app, &QCoreApplication::quit);
        window.show();
        code = QApplication::exec();
    }
    tw::ShutdownSkin();
    return code;
}
