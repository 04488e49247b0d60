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
    Imported result = Imported::Ok;
    LoadedSound sound;
    if (!ReadSound(tempStored, sound)) {
        // The loader's words, about the file the user chose.
        why = sound.error;
        if (const size_t at = why.find(tempStored); at != std::string::npos)
            why.replace(at, tempStored.size(), from);
        result = Imported::NotASound;
    } else if (::link(temp.c_str(), NativePath(stored).c_str()) != 0) {
        why = std::strerror(errno);
        result = errno == EEXIST ? Imported::Exists : Imported::Failed;
    } else {
        Log("status - imported %s as %s", from.c_str(), stored.c_str());
    }
    sound = LoadedSound{};  // closes the temporary file before it goes
    ::unlink(temp.c_str());
    return result;
}

}  // namespace tw
