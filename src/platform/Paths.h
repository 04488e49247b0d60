#pragma once

#include <string>

namespace tw {

// Stored track names keep backslashes ("sounds\Music Tracks\Jazz\x.mp3"); files
// are opened through the native form ("sounds/Music Tracks/Jazz/x.mp3"), relative
// to the working folder. Letter case is kept: Linux names are case-sensitive.
std::string NativePath(const std::string& storedName);

// Lowercased copy, ASCII letters only, for comparisons.
std::string AsciiLower(const std::string& text);

}  // namespace tw
