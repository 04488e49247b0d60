#include "Autostart.h"

#include <cstdlib>
#include <filesystem>

#include "AtomicFile.h"
#include "Log.h"

namespace tw {

std::string AutostartEntryPath() {
    // XDG: a relative or empty XDG_CONFIG_HOME is to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/autostart/tonewell.desktop";
}

std::string DesktopExecArgument(const std::string& argument) {
    std::string out = "\"";
    for (char c : argument) {
        // In the Exec key a backslash is itself escaped once more by the file's
        // string rules, hence four for one.
        if (c == '\\') {
            out += "\\\\\\\\";
            continue;
        }
        if (c == '"' || c == '`' || c == '$') out += "\\\\";
        out += c;
    }
    return out + "\"";
}

bool SetAutostart(bool on, const std::string& program, const std::string& folder,
                  std::string& why) {
    const std::filesystem::path path = AutostartEntryPath();
    std::error_code ec;
    if (!on) {
        std::filesystem::remove(path, ec);
        if (ec) why = path.string() + ": " + ec.message();
        return !ec;
    }
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) {
        why = path.parent_path().string() + ": " + ec.message();
        return false;
    }
    const std::string entry =
        "[Desktop Entry]\nType=Application\nName=Tonewell\nComment=Music on hold\n"
        "Exec=" +
        DesktopExecArgument(program) + " -automation --workdir " + DesktopExecArgument(folder) +
        "\nIcon=tonewell\nTerminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    std::string reason;
    if (!WriteFileAtomically(path.string(), entry, &reason)) {
        why = path.string() + ": " + reason;
        return false;
    }
    Log("status - autostart entry written: %s", path.c_str());
    return true;
}

}  // namespace tw
