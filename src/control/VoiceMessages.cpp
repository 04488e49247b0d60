#include "VoiceMessages.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "AtomicFile.h"
#include "Paths.h"
#include "TrackList.h"

namespace tw {

const char* const kCustomFolder = "sounds\\Voice Messages\\Custom";

bool IsValidMessageName(const std::string& name) {
    bool content = false;
    for (unsigned char c : name) {
        if (c >= 0x80) return false;  // letters beyond ASCII are not file-name safe here
        if (std::isalnum(c)) {
            content = true;
        } else if (c != ' ') {
            return false;
        }
    }
    return content;
}

MessageSaved SaveVoiceMessage(const std::string& source, const std::string& name,
                              std::string& stored, std::string& why) {
    stored = std::string(kCustomFolder) + "\\" + name + ".wav";
    if (!IsValidMessageName(name) || stored.size() > kMaxNameLength) return MessageSaved::BadName;
    const std::string destination = NativePath(stored);
    std::error_code ec;
    if (std::filesystem::exists(destination, ec)) return MessageSaved::Exists;
    // A fresh install has no "Custom" folder yet.
    std::filesystem::create_directories(NativePath(kCustomFolder), ec);
    if (const int error = CopyFileWhole(source, destination); error != 0) {
        why = std::strerror(error);
        return error == EEXIST ? MessageSaved::Exists : MessageSaved::Failed;
    }
    return MessageSaved::Ok;
}

}  // namespace tw
