#include "SoundImport.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "AtomicFile.h"
#include "LoadSound.h"
#include "Log.h"
#include "Paths.h"
#include "SoundsFolder.h"

namespace tw {

Imported ImportSound(const std::string& from, bool isMusic, const std::string& category,
                     std::string& stored, std::string& why) {
    static std::atomic<int> counter{0};
    const std::string name = std::filesystem::path(from).filename().string();
    stored = StoredTrackName(isMusic, category, name);
    const std::string lower = AsciiLower(name);
    const std::string ext = lower.size() >= 4 ? lower.substr(lower.size() - 4) : std::string();
    const std::string tempStored =
        StoredTrackName(isMusic, category,
                        ".import-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ext);
    const std::string temp = NativePath(tempStored);
    if (const int err = CopyFileWhole(from, temp); err != 0) {
        why = std::strerror(err);
        return Imported::Failed;
    }
    Imported result = Imported::NotASound;
    if (LoadsAsSound(tempStored, from, why)) {
        result = LinkIntoPlace(tempStored, stored, why);
        if (result == Imported::Ok) Log("status - imported %s as %s", from.c_str(), stored.c_str());
    }
    ::unlink(temp.c_str());
    return result;
}

bool LoadsAsSound(const std::string& storedName, const std::string& shownName, std::string& why,
                  LoadOptions load) {
    LoadedSound sound;
    if (ReadSound(storedName, sound, load)) return true;
    why = sound.error;
    if (const size_t at = why.find(storedName); at != std::string::npos)
        why.replace(at, storedName.size(), shownName);
    return false;
}

Imported LinkIntoPlace(const std::string& tempStored, const std::string& stored, std::string& why) {
    if (::link(NativePath(tempStored).c_str(), NativePath(stored).c_str()) == 0) return Imported::Ok;
    why = std::strerror(errno);
    return errno == EEXIST ? Imported::Exists : Imported::Failed;
}

}  // namespace tw
