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

namespace tw {

PipeSink::PipeSink(int fd, int rate, int channels, std::function<void(int error)> onEnd)
    : fd_(fd),
      rate_(rate),
      channels_(channels),
      onEnd_(std::move(onEnd)),
      // Two seconds of audio waiting for a slow reader; older audio is dropped.
      queue_(static_cast<size_t>(rate) * channels * 2) {
    writer_ = std::thread(&PipeSink::Write, this);
}

PipeSink::~PipeSink() {
    // The writer never blocks for longer than one poll, so a reader that is alive
    // but does not read cannot hold up the end of the program.
    queue_.Close();
    if (writer_.joinable()) writer_.join();
}

void PipeSink::Consume(const float* stereo, int frames) {
    if (!gone_) queue_.PushMix(stereo, frames, channels_);
}

bool PipeSink::WriteBlock(const char* bytes, size_t left, int& error) {
    // A write waits only once the descriptor said it can take a piece: at most
    // PIPE_BUF bytes, which a pipe with room takes whole without blocking.
    while (left > 0) {
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, 200);
        if (queue_.closed()) return true;  // ending: what is left is not waited for
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;
        if (ready < 0) {
            error = errno;
            return false;
        }
        if (p.revents & (POLLERR | POLLHUP) && !(p.revents & POLLOUT)) {
            error = EPIPE;
            return false;
        }
        const ssize_t n = ::write(fd_, bytes, std::min<size_t>(left, PIPE_BUF));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            error = n == 0 ? ENOSPC : errno;
            return false;
        }
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void PipeSink::Write() {
    PcmBlock block;
    while (!queue_.closed()) {
        if (!queue_.Pop(block, 500)) continue;
        // Samples are stored little-endian on every machine this runs on.
        int error = 0;
        if (WriteBlock(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(int16_t),
                       error))
            continue;
        gone_ = true;
        queue_.Close();
        if (error == EPIPE)
            Log("status - the reader of the audio went away (%s)", std::strerror(error));
        else
            Log("error - the audio cannot be written (%s)", std::strerror(error));
        if (onEnd_) onEnd_(error);
        return;
    }
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
