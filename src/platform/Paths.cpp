#include "Paths.h"

namespace tw {

std::string NativePath(const std::string& storedName) {
    std::string out = storedName;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string AsciiLower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace tw
