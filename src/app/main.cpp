#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Clock.h"
#include "Log.h"
#include "RenderRun.h"

namespace {

void PrintHelp() {
    std::printf(
        "Usage: tonewell [options]\n"
        "A music-on-hold player: music tracks with voice messages over a faded song.\n"
        "All files are read and written in the current working folder.\n\n"
        "  --render OUT.wav --seconds N [--start \"YYYY-MM-DD HH:MM:SS\"]\n"
        "               play N seconds on a virtual clock into OUT.wav (16-bit stereo,\n"
        "               44100 Hz) instead of a sound output; --start sets the clock\n"
        "  --log        write the player's log lines on stderr\n"
        "  --help       show this text\n"
        "  --version    show the version\n");
}

int Usage(const char* problem) {
    std::fprintf(stderr, "tonewell: %s (see tonewell --help)\n", problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string renderOut, seconds, start;
    bool render = false;
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
        } else if (arg == "--render") {
            render = true;
            if (!value(renderOut)) return Usage("--render needs a file name");
        } else if (arg == "--seconds") {
            if (!value(seconds)) return Usage("--seconds needs a number");
        } else if (arg == "--start") {
            if (!value(start)) return Usage("--start needs a date and time");
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (!render) {
        PrintHelp();
        return 0;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    tw::RenderOptions options;
    options.outPath = renderOut;
    char* end = nullptr;
    const long long n = seconds.empty() ? -1 : std::strtoll(seconds.c_str(), &end, 10);
    if (seconds.empty() || *end != '\0' || n <= 0 || n > 24LL * 3600 * 7)
        return Usage("--seconds needs a whole number of seconds, 1 to 604800");
    options.seconds = n;
    if (start.empty()) {
        options.start = tw::SystemClock().Now();
    } else if (!tw::ParseLocalTime(start, options.start)) {
        return Usage("--start needs \"YYYY-MM-DD HH:MM:SS\"");
    }
    return tw::RenderRun(options);
}
