#pragma once

#include <string>

namespace tw {

// Stored track names keep backslashes ("sounds\Music Tracks\Jazz\x.mp3"); files
// are opened through the native form ("sounds/Music Tracks/Jazz/x.mp3"), relative
// to the working folder. Letter case is kept: Linux names are case-sensitive.
std::string NativePath(const std::string& storedName);

// Whether a stored name is a relative path that stays inside `folder` of the
// working folder ("" for the working folder itself): not absolute, and no ".."
// among its parts. Parts are split at both kinds of slash.
bool StaysUnder(const std::string& storedName, const std::string& folder);

// Lowercased copy, ASCII letters only, for comparisons.
std::string AsciiLower(const std::string& text);

// Whether the file or folder a native path names really lies inside `folder`
// once every link is followed (for a name not there yet, its folder is looked
// at): a link out of the sounds folder leads nowhere a remote admin may reach.
bool RealPathStaysUnder(const std::string& nativePath, const std::string& folder);

// The file that a relative native path names when letter case is ignored (lists
// brought from a system whose names ignore case): each part matched in its
// folder, the exact name first, else the one entry equal to it ignoring ASCII
// case. "" when there is none, or more than one.
std::string FindIgnoringCase(const std::string& nativePath);

}  // namespace tw
