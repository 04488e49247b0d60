#include <cstdio>
#include <cstring>

static void PrintHelp() {
    std::printf(
        "Usage: tonewell [options]\n"
        "A music-on-hold player: music tracks with voice messages over a faded song.\n"
        "All files are read and written in the current working folder.\n\n"
        "  --help       show this text\n"
        "  --version    show the version\n");
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Tonewell %s\n", TONEWELL_VERSION);
            return 0;
        }
    }
    PrintHelp();
    return 0;
}
