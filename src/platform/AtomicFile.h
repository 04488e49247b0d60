#pragma once

#include <string>

namespace tw {

// Writes the whole content to a temporary file beside `path`, flushes it to disk
// and renames it over `path`, so the old file stays whole if anything fails.
// Returns false (and logs why) on failure; the temporary file is then removed.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content);

}  // namespace tw
