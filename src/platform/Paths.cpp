#include "Paths.h"

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
