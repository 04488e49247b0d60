#include "Mp3Decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "AtomicFile.h"
#include "Log.h"
#include "WavHeader.h"

namespace tw {
namespace {

// A sound buffer holds at most 4 GiB - 1 bytes, header included.
constexpr uint64_t kMaxSoundBytes = 0xFFFFFFFFull;
// No MP3 decodes to more than this many bytes per byte of the file (8 kbit/s at
// 24 kHz stereo gives 96); a stream length past it is a lie, not a long song.
constexpr uint64_t kMaxExpansion = 160;

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteWhole(const std::string& path, const uint8_t* bytes, size_t size) {
    static std::mutex turn;
    std::lock_guard<std::mutex> hold(turn);
    // Non-blocking: a FIFO in its place must not hang the decode.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    bool ok = fd >= 0 && WriteAll(fd, bytes, size);
    const int err = errno;
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) Log("error - cannot write %s (%s)", path.c_str(), std::strerror(err));
    return ok;
}

}  // namespace

Mp3Result DecodeMp3(const std::string& mp3Path, const std::string& wavPath,
                    std::unique_ptr<SoundData>* image) {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });

    FdCloser file{OpenRegularFile(mp3Path)};
    if (file.fd < 0) return Mp3Result::Unreadable;
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return Mp3Result::Unreadable;
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> mh(mpg123_new(nullptr, &err));
    if (!mh) return Mp3Result::NoAudio;
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Always 16-bit signed output, at whatever rate and channel count the file has.
    mpg123_format_none(mh.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_fd(mh.get(), file.fd) != MPG123_OK) return Mp3Result::NoAudio;

    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK)
        return Mp3Result::NoAudio;
    // Keep the first format: a stream that changes it midway is unusual and the
    // WAV layout has room for one.
    mpg123_format_none(mh.get());
    mpg123_format(mh.get(), rate, channels, encoding);
    const uint64_t frameBytes = static_cast<uint64_t>(channels) * 2;

    // The stream's own length (from its header, or estimated from the file's size)
    // is used only when the file could really hold it.
    const off_t length = mpg123_length(mh.get());
    const uint64_t plausible = fileSize * kMaxExpansion + (uint64_t{1} << 20);
    const uint64_t claimed = length > 0 ? static_cast<uint64_t>(length) * frameBytes : 0;
    const bool believable = claimed > 0 && claimed <= plausible;
    if (believable && 44 + claimed > kMaxSoundBytes) {
        Log("error - %s would decode to %llu bytes, past the 4 GiB limit", mp3Path.c_str(),
            static_cast<unsigned long long>(44 + claimed));
        return Mp3Result::TooLong;
    }
    uint64_t capacity =
        44 + (believable ? claimed + 65536
                         : std::min<uint64_t>(fileSize * 16, uint64_t{8} << 20) + 65536);
    capacity = std::min(capacity, kMaxSoundBytes + 1);
    auto out = std::make_unique<SoundData>(static_cast<size_t>(capacity));
    size_t used = 44;
    bool tooLong = false;
    for (;;) {
        if (capacity - used < 16384) {
            if (capacity > kMaxSoundBytes) {
                tooLong = true;
                break;
            }
            const uint64_t bigger = std::min(capacity * 2, kMaxSoundBytes + 1);
            auto grown = std::make_unique<SoundData>(static_cast<size_t>(bigger));
            std::memcpy(grown->data(), out->data(), used);
            out = std::move(grown);
            capacity = bigger;
        }
        size_t done = 0;
        const int r = mpg123_read(mh.get(), out->data() + used, capacity - used, &done);
        used += done;
        if (r == MPG123_DONE) break;
        // A damaged stream keeps what came before the damage.
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
    }
    if (tooLong || used > kMaxSoundBytes) {
        Log("error - %s decodes past the 4 GiB limit", mp3Path.c_str());
        return Mp3Result::TooLong;
    }
    uint64_t total = used - 44;
    total -= total % frameBytes;
    if (total == 0) {
        Log("error - no audio in %s", mp3Path.c_str());
        return Mp3Result::NoAudio;
    }
    WriteWavHeader16(out->data(), channels, static_cast<uint32_t>(rate),
                     static_cast<uint32_t>(total));
    const size_t wavSize = 44 + static_cast<size_t>(total);
    // The song is decoded all the same when the file cannot be written: a caller
    // that takes it in memory still plays it (a working folder that cannot be
    // written must not silence MP3s).
    if (!WriteWhole(wavPath, out->data(), wavSize) && !image) return Mp3Result::NoAudio;
    if (image) {
        out->Shrink(wavSize);
        *image = std::move(out);
    }
    return Mp3Result::Ok;
}

}  // namespace tw
