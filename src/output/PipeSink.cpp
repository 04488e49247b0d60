#include "PipeSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "Log.h"

namespace tw {

PipeSink::PipeSink(int fd, int rate, int channels, std::function<void()> onReaderGone)
    : fd_(fd),
      rate_(rate),
      channels_(channels),
      onReaderGone_(std::move(onReaderGone)),
      // Two seconds of audio waiting for a slow reader; older audio is dropped.
      queue_(static_cast<size_t>(rate) * channels * 2) {
    writer_ = std::thread(&PipeSink::Write, this);
}

PipeSink::~PipeSink() {
    queue_.Close();
    if (writer_.joinable()) writer_.join();
}

void PipeSink::Consume(const float* stereo, int frames) {
    if (!gone_) queue_.PushMix(stereo, frames, channels_);
}

void PipeSink::Write() {
    PcmBlock block;
    while (!queue_.closed()) {
        if (!queue_.Pop(block, 500)) continue;
        // Samples are stored little-endian on every machine this runs on.
        const auto* bytes = reinterpret_cast<const char*>(block.data());
        size_t left = block.size() * sizeof(int16_t);
        while (left > 0) {
            const ssize_t n = ::write(fd_, bytes, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = errno;
                gone_ = true;
                queue_.Close();
                Log("status - the reader of the audio went away (%s)", std::strerror(error));
                if (onReaderGone_) onReaderGone_();
                return;
            }
            bytes += n;
            left -= static_cast<size_t>(n);
        }
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
