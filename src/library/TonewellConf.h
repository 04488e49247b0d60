#pragma once

// "tonewell.conf": the optional file of what is new on Linux and has no place in
// the original program's files (the live output, streaming, loudness levelling).
// Lines of `key = value`; "#" starts a comment line. The command line wins over it.
// Main thread only.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace tw {

constexpr const char* kTonewellConf = "tonewell.conf";

struct TonewellConf {
    std::map<std::string, std::string> values;
    std::map<std::string, int> lines;  // the line each value came from
    // One line for the user for each line that was not understood (and skipped):
    // the first ten, then how many more.
    std::vector<std::string> problems;
    std::string path;

    // A missing file is an empty configuration. False only when it exists and
    // cannot be read.
    bool Load(const std::string& from = kTonewellConf);
    std::string Get(const std::string& key, const std::string& fallback = "") const;
    // "tonewell.conf line 3": where a key's value was read, for a message.
    std::string Where(const std::string& key) const;
};

// Only the first 64 KB of the file are read: it holds a few short lines.
constexpr size_t kTonewellConfMaxBytes = 64 * 1024;

// The keys the file may hold.
bool IsTonewellConfKey(const std::string& key);

// Sets one key in the file, keeping every other line (and its comments) as it is;
// written whole to a temporary file and renamed. False with the reason in `why`.
bool SetTonewellConfValue(const std::string& key, const std::string& value, std::string* why,
                          const std::string& path = kTonewellConf);

}  // namespace tw
