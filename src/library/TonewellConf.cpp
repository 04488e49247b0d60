#include "TonewellConf.h"

#include "OptionTable.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "AtomicFile.h"

namespace tw {
namespace {

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Splits "key = value"; false for a line that is not one.
bool SplitLine(const std::string& line, std::string& key, std::string& value) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
    return !key.empty();
}

}  // namespace

bool IsTonewellConfKey(const std::string& key) {
    const OptionSpec* spec = FindOption(key);
    return spec && (spec->where & kInConf);
}

bool TonewellConf::Load(const std::string& from) {
    values.clear();
    lines.clear();
    problems.clear();
    path = from;
    std::string text;
    if (!ReadWholeFile(path, text, kTonewellConfMaxBytes)) return errno == ENOENT;
    if (text.size() > kTonewellConfMaxBytes) {
        text.resize(kTonewellConfMaxBytes);
        problems.push_back(path + " is longer than 64 KB; only its first 64 KB are read");
    }
    constexpr size_t kMostSaid = 10;
    size_t skipped = 0;
    auto skip = [&](std::string why) {
        if (++skipped <= kMostSaid) problems.push_back(std::move(why));
    };
    std::istringstream stream(text);
    std::string line, key, value;
    for (int number = 1; std::getline(stream, line); ++number) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const std::string where = path + " line " + std::to_string(number);
        if (!SplitLine(trimmed, key, value)) {
            skip(where + ": not a \"key = value\" line; skipped");
        } else if (!IsTonewellConfKey(key)) {
            // A key's own text may be anything: only a short, printable start is shown.
            std::string shown = key.substr(0, 40);
            for (char& c : shown)
                if (static_cast<unsigned char>(c) < ' ') c = '?';
            skip(where + ": unknown key " + shown + "; skipped");
        } else {
            values[key] = value;
            lines[key] = number;
        }
    }
    if (skipped > kMostSaid)
        problems.push_back(path + ": " + std::to_string(skipped - kMostSaid) +
                           " more lines skipped");
    return true;
}

std::string TonewellConf::Where(const std::string& key) const {
    const auto it = lines.find(key);
    return it == lines.end() ? path : path + " line " + std::to_string(it->second);
}

std::string TonewellConf::Get(const std::string& key, const std::string& fallback) const {
    const auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

bool SetTonewellConfValue(const std::string& key, const std::string& value, std::string* why,
                          const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        if (errno != ENOENT) {
            if (why) *why = std::strerror(errno);
            return false;
        }
        text.clear();
    }
    std::istringstream lines(text);
    std::string line, out, k, v;
    bool set = false;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed[0] != '#' && SplitLine(trimmed, k, v) && k == key) {
            if (set) continue;  // a repeated key: the one line left says it
            line = key + " = " + value;
            set = true;
        }
        out += line + "\n";
    }
    if (!set) out += key + " = " + value + "\n";
    // It may hold a stream password: a new file is the owner's alone.
    return WriteFileAtomically(path, out, why, 0600);
}

}  // namespace tw
