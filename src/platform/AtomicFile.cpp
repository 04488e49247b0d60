#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Log.h"

namespace tw {

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* why,
                         mode_t newMode) {
    std::string tmp = path + ".tmp";
    // A leftover of an earlier try would keep its own mode.
    ::unlink(tmp.c_str());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, newMode);
    if (fd >= 0) {
        // The file replaced keeps its mode, and its owner where we may give it: a
        // private file stays private after a save.
        struct stat old {};
        if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            ::fchmod(fd, old.st_mode & 07777);
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
                // Not ours to give: the mode alone is kept.
            }
        }
    }
    if (fd < 0) {
        const int err = errno;
        Log("error - cannot write %s (%s)", path.c_str(), std::strerror(err));
        if (why) *why = std::strerror(err);
        return false;
    }
    bool ok = WriteAll(fd, content.data(), content.size());
    int err = ok ? 0 : errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        Log("error - cannot write %s (%s)", path.c_str(), std::strerror(err));
        if (why) *why = std::strerror(err);
    }
    return ok;
}

int CopyFileWhole(const std::string& from, const std::string& to) {
    const int in = OpenRegularFile(from);
    if (in < 0) return errno;
    const std::string tmp = to + ".part";
    ::unlink(tmp.c_str());
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    int err = out < 0 ? errno : 0;
    char chunk[65536];
    while (err == 0) {
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err = errno;
        if (n <= 0) break;
        if (!WriteAll(out, chunk, static_cast<size_t>(n))) err = errno;
    }
    if (err == 0 && ::fsync(out) != 0) err = errno;
    if (out >= 0 && ::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    // A link, unlike a rename, never replaces a file that is there.
    if (err == 0 && ::link(tmp.c_str(), to.c_str()) != 0) err = errno;
    if (out >= 0) ::unlink(tmp.c_str());
    if (err != 0) Log("error - cannot copy %s to %s (%s)", from.c_str(), to.c_str(), std::strerror(err));
    return err;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    FileStamp stamp;
    if (::stat(path.c_str(), &st) == 0)
        stamp = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                 static_cast<uint64_t>(st.st_size),
                 int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
    return stamp;
}

int OpenRegularFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = ENOENT;
        return -1;
    }
    // Reads of a regular file never block anyway; clear the flag all the same.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool ReadWholeFile(const std::string& path, std::string& content, size_t maxBytes) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    content.clear();
    char chunk[65536];
    bool ok = true;
    while (content.size() <= maxBytes) {
        const size_t room = maxBytes - content.size();  // one more byte tells a longer file
        const size_t want = room >= sizeof chunk ? sizeof chunk : room + 1;
        const ssize_t n = ::read(fd, chunk, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        content.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool FolderIsWritable(const std::string& folder, std::string& why) {
    const std::string probe = folder + "/.tonewell-write-test";
    const int fd =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

}  // namespace tw
