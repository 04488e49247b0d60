#include "Mp3Decoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "Log.h"
#include "WavHeader.h"

namespace tw {
namespace {

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

}  // namespace

bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath,
                        std::unique_ptr<SoundData>* image) {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });

    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleDeleter> mh(mpg123_new(nullptr, &err));
    if (!mh) return false;
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Always 16-bit signed output, at whatever rate and channel count the file has.
    mpg123_format_none(mh.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh.get(), mp3Path.c_str()) != MPG123_OK) return false;

    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh.get(), &rate, &channels, &encoding) != MPG123_OK) return false;
    // Keep the first format: a stream that changes it midway is unusual and the
    // WAV layout has room for one.
    mpg123_format_none(mh.get());
    mpg123_format(mh.get(), rate, channels, encoding);
    const uint32_t frameBytes = static_cast<uint32_t>(channels * 2);

    // The whole file is built in memory, sized from the stream's own length when it
    // gives one, and written at once.
    const off_t estimate = mpg123_length(mh.get());
    size_t capacity =
        44 + (estimate > 0 ? static_cast<size_t>(estimate) * frameBytes + 65536 : size_t{8} << 20);
    auto out = std::make_unique<SoundData>(capacity);
    size_t used = 44;
    for (;;) {
        if (capacity - used < 16384) {
            auto bigger = std::make_unique<SoundData>(capacity * 2);
            std::memcpy(bigger->data(), out->data(), used);
            out = std::move(bigger);
            capacity *= 2;
        }
        size_t done = 0;
        const int r = mpg123_read(mh.get(), out->data() + used, capacity - used, &done);
        used += done;
        if (r == MPG123_DONE) break;
        // A damaged stream keeps what came before the damage.
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
        if (used - 44 > 0xFFFFFFFFull - 36) break;
    }
    uint64_t total = std::min<uint64_t>(used - 44, 0xFFFFFFFFull - 36);
    total -= total % frameBytes;
    if (total == 0) {
        Log("error - no audio in %s", mp3Path.c_str());
        return false;
    }
    WriteWavHeader16(out->data(), channels, static_cast<uint32_t>(rate),
                     static_cast<uint32_t>(total));
    const size_t fileSize = 44 + static_cast<size_t>(total);
    std::FILE* f = std::fopen(wavPath.c_str(), "wb");
    bool ok = f && std::fwrite(out->data(), 1, fileSize, f) == fileSize;
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) {
        Log("error - cannot write %s (%s)", wavPath.c_str(), std::strerror(errno));
        // The song is decoded all the same: a caller that takes it in memory still
        // plays it (a working folder that cannot be written must not silence MP3s).
        if (!image) return false;
    }
    if (image) {
        out->Shrink(fileSize);
        *image = std::move(out);
    }
    return true;
}

}  // namespace tw
