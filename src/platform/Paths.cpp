#include "Paths.h"

#include <filesystem>

namespace tw {

std::string NativePath(const std::string& storedName) {
    std::string out = storedName;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

bool StaysUnder(const std::string& storedName, const std::string& folder) {
    const std::string native = NativePath(storedName);
    if (native.empty() || native[0] == '/') return false;
    if (!folder.empty() && native.compare(0, folder.size() + 1, folder + "/") != 0) return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = native.find('/', start);
        const std::string part = native.substr(start, slash - start);
        if (part == "..") return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

std::string AsciiLower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace tw

namespace tw {

bool RealPathStaysUnder(const std::string& nativePath, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return false;
    // What is not there yet is judged by the nearest folder above it that is.
    fs::path there = fs::path(nativePath).lexically_normal();
    while (!there.empty() && !fs::exists(fs::symlink_status(there, ec)) && there.has_parent_path())
        there = there.parent_path();
    if (there.empty() || !fs::exists(there, ec)) return false;
    const fs::path real = fs::canonical(there, ec);
    if (ec) return false;
    const std::string r = real.string(), base = root.string() + "/";
    return r.rfind(base, 0) == 0;
}

std::string FindIgnoringCase(const std::string& nativePath) {
    namespace fs = std::filesystem;
    if (nativePath.empty() || nativePath[0] == '/') return "";
    fs::path found = ".";
    for (const fs::path& part : fs::path(nativePath)) {
        std::error_code ec;
        if (fs::exists(found / part, ec)) {
            found /= part;
            continue;
        }
        const std::string wanted = AsciiLower(part.string());
        std::string match;
        int matches = 0;
        for (fs::directory_iterator it(found, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (AsciiLower(name) == wanted && ++matches == 1) match = name;
            if (matches > 1) return "";
        }
        if (matches != 1) return "";
        found /= match;
    }
    std::string out = found.lexically_normal().string();
    return out;
}

}  // namespace tw
