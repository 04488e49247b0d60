#include "WorkingFolder.h"

#include <cstdlib>
#include <filesystem>

#include "AtomicFile.h"
#include "Log.h"

namespace fs = std::filesystem;

namespace tw {

std::string InstalledDataDir() {
    const char* over = std::getenv("TONEWELL_DATA_DIR");
    return over && over[0] ? over : TONEWELL_DATA_DIR;
}

bool HasConfiguration(const std::string& folder) {
    std::error_code ec;
    return fs::exists(fs::path(folder) / "audio.cfg", ec) ||
           fs::exists(fs::path(folder) / "default.cfg", ec);
}

bool FillFromInstalled(const std::string& folder, std::string& why) {
    // The installed default selection, sounds, help and stylesheet.
    const fs::path installed = InstalledDataDir();
    std::error_code ec;
    if (!fs::exists(installed / "default.cfg", ec)) {
        why = "the installed data is missing (" + installed.string() + ")";
        return false;
    }
    fs::copy(installed, folder, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
    if (ec) {
        why = "copying " + installed.string() + ": " + ec.message();
        return false;
    }
    Log("status - %s filled from %s", folder.c_str(), installed.c_str());
    return true;
}

bool IsFreshFolder(const std::string& folder) {
    std::error_code ec;
    return !HasConfiguration(folder) && !fs::exists(fs::path(folder) / "sounds", ec);
}

bool EnterDesktopFolder(std::string& why) {
    // XDG: an unset, empty or relative XDG_DATA_HOME means ~/.local/share.
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    fs::path base;
    if (data && data[0] == '/') {
        base = data;
    } else if (home && home[0] == '/') {
        base = fs::path(home) / ".local/share";
    } else {
        why = "neither XDG_DATA_HOME nor HOME names a folder";
        return false;
    }
    const fs::path folder = base / "tonewell";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        why = folder.string() + ": " + ec.message();
        return false;
    }
    std::string reason;
    if (!FolderIsWritable(folder.string(), reason)) {
        why = folder.string() + ": " + reason;
        return false;
    }
    if (!HasConfiguration(folder.string()) && !FillFromInstalled(folder.string(), why)) {
        fs::current_path(folder, ec);  // an empty folder of its own all the same
        return false;
    }
    fs::current_path(folder, ec);
    if (ec) {
        why = folder.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace tw
