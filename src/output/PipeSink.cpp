#include "PipeSink.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "Log.h"
#include "PcmQueue.h"

namespace tw {

PipeSink::PipeSink(int fd, int rate, int channels, std::function<void(int error)> onEnd)
    : fd_(fd),
      rate_(rate),
      channels_(channels),
      onEnd_(std::move(onEnd)),
      most_(static_cast<size_t>(rate) * channels * 2 * sizeof(int16_t)) {}

void PipeSink::Consume(const float* stereo, int frames) {
    if (gone_) return;
    block_.resize(static_cast<size_t>(frames) * channels_);
    MixToPcm16(stereo, frames, channels_, block_.data());
    // Samples are stored little-endian on every machine this runs on.
    const char* bytes = reinterpret_cast<const char*>(block_.data());
    if (sent_ > 0) {
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(sent_));
        sent_ = 0;
    }
    waiting_.insert(waiting_.end(), bytes, bytes + block_.size() * sizeof(int16_t));
    // A reader that fell behind loses the oldest audio, whole frames of it.
    if (waiting_.size() > most_) {
        const size_t frame = static_cast<size_t>(channels_) * sizeof(int16_t);
        const size_t cut = (waiting_.size() - most_ + frame - 1) / frame * frame;
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(cut));
    }
    int error = 0;
    if (Flush(error)) return;
    gone_ = true;
    if (error == EPIPE)
        Log("status - the reader of the audio went away (%s)", std::strerror(error));
    else
        Log("error - the audio cannot be written (%s)", std::strerror(error));
    if (onEnd_) onEnd_(error);
}

bool PipeSink::Flush(int& error) {
    while (sent_ < waiting_.size()) {
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return true;  // full: the rest waits for the next block
        if (ready < 0) {
            error = errno;
            return false;
        }
        if (p.revents & (POLLERR | POLLHUP) && !(p.revents & POLLOUT)) {
            error = EPIPE;
            return false;
        }
        // A pipe with room takes up to PIPE_BUF bytes whole, without blocking.
        const ssize_t n = ::write(fd_, waiting_.data() + sent_,
                                  std::min<size_t>(waiting_.size() - sent_, PIPE_BUF));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            error = n == 0 ? ENOSPC : errno;
            return false;
        }
        sent_ += static_cast<size_t>(n);
    }
    return true;
}

bool CanWriteTo(int fd, std::string& why) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        why = "standard output is closed";
        return false;
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        why = "standard output is not open for writing";
        return false;
    }
    if (::isatty(fd)) {
        why = "standard output is a terminal; send it to a program or a file";
        return false;
    }
    return true;
}

}  // namespace tw
