#include "SoundsFolder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "Paths.h"

namespace tw {
namespace {

// The visible entries of a folder, and whether each is a folder (links followed).
std::vector<std::pair<std::string, bool>> Entries(const std::string& storedFolder) {
    std::vector<std::pair<std::string, bool>> out;
    const std::string native = NativePath(storedFolder);
    DIR* dir = ::opendir(native.c_str());
    if (!dir) return out;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        struct stat st {};
        const bool isFolder =
            ::stat((native + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        out.emplace_back(e->d_name, isFolder);
    }
    ::closedir(dir);
    return out;
}

std::string KindFolder(bool isMusic) {
    return std::string("sounds\\") + KindFolderName(isMusic);
}

}  // namespace

const char* KindFolderName(bool isMusic) {
    return isMusic ? "Music Tracks" : "Voice Messages";
}

std::vector<std::string> ListCategories(bool isMusic) {
    std::vector<std::string> categories;
    for (auto& [name, isFolder] : Entries(KindFolder(isMusic)))
        if (isFolder) categories.push_back(name);
    std::sort(categories.begin(), categories.end(), [](const std::string& a, const std::string& b) {
        if ((a == "Custom") != (b == "Custom")) return b == "Custom";
        return a < b;  // std::string compares bytes as unsigned, like strcmp
    });
    return categories;
}

std::vector<std::string> ListTracks(bool isMusic, const std::string& category) {
    std::vector<std::string> tracks;
    for (auto& entry : Entries(KindFolder(isMusic) + "\\" + category))
        tracks.push_back(std::move(entry.first));
    std::sort(tracks.begin(), tracks.end(), [](const std::string& a, const std::string& b) {
        const std::string la = AsciiLower(a), lb = AsciiLower(b);
        return la != lb ? la < lb : a < b;
    });
    return tracks;
}

int InitialCategory(bool isMusic, const std::vector<std::string>& categories) {
    if (categories.empty()) return -1;
    for (size_t i = 0; i < categories.size(); ++i)
        if (!Entries(KindFolder(isMusic) + "\\" + categories[i]).empty())
            return static_cast<int>(i);
    return 0;
}

std::string StoredTrackName(bool isMusic, const std::string& category, const std::string& file) {
    return KindFolder(isMusic) + "\\" + category + "\\" + file;
}

bool StaysInSoundsFolder(const std::string& storedName) {
    return RealPathStaysUnder(NativePath(storedName), "sounds");
}

}  // namespace tw
