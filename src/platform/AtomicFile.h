#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace tw {

// Writes the whole content to a temporary file beside `path`, flushes it to disk
// and renames it over `path`, so the old file stays whole if anything fails.
// The file keeps the mode (and, where allowed, the owner) of the one it replaces;
// a new file gets `newMode` less the umask.
// Returns false (and logs why) on failure; the temporary file is then removed and
// `why`, when given, receives the system's reason.
bool WriteFileAtomically(const std::string& path, const std::string& content,
                         std::string* why = nullptr, mode_t newMode = 0666);

// Copies the file `from` to `to`, which must not exist yet, through a temporary
// file beside `to` that is flushed to disk and then linked into place: `to` is
// there whole or not at all (a full disk leaves nothing behind). Returns 0, or the
// errno that stopped it (EEXIST when `to` is there).
int CopyFileWhole(const std::string& from, const std::string& to);

// Writes all `size` bytes to `fd`, going on after interruptions; false (errno set,
// ENOSPC for a write that made no progress) when that failed.
bool WriteAll(int fd, const void* data, size_t size);

// What tells one version of a file from another: its device, inode, size and
// modification time (all zero when it is not there). A file written again, by a
// rename over it or in place, has another stamp.
struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// Opens a regular file for reading without ever blocking: a FIFO, a device or a
// folder is refused (-1, errno set) instead of hanging the caller in open().
int OpenRegularFile(const std::string& path);

// Reads a whole regular file, or its first `maxBytes` and one more (so that a
// caller sees it was longer); false when it cannot be opened or read, or is not a
// regular file.
bool ReadWholeFile(const std::string& path, std::string& content, size_t maxBytes = SIZE_MAX);

// Whether a file can be made in `folder`: tried for real, since permissions alone
// do not tell (a read-only mount, or root's view of the mode bits). On failure
// `why` receives the system's reason.
bool FolderIsWritable(const std::string& folder, std::string& why);

}  // namespace tw
