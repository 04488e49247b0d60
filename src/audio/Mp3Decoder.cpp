#include "Mp3Decoder.h"

#include <mpg123.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "Log.h"

namespace tw {
namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

void WavHeader(uint8_t* h, int channels, long rate, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, static_cast<uint32_t>(rate));
    Put32(h + 28, static_cast<uint32_t>(rate * channels * 2));
    Put16(h + 32, static_cast<uint32_t>(channels * 2));
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

}  // namespace

bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath) {
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

    std::FILE* out = std::fopen(wavPath.c_str(), "wb");
    if (!out) return false;
    uint8_t header[44];
    WavHeader(header, channels, rate, 0);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;
    uint64_t total = 0;
    std::vector<unsigned char> pcm(1 << 17);
    while (ok) {
        size_t done = 0;
        const int r = mpg123_read(mh.get(), pcm.data(), pcm.size(), &done);
        if (done > 0) {
            ok = std::fwrite(pcm.data(), 1, done, out) == done;
            total += done;
        }
        if (r == MPG123_DONE) break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            // A damaged stream keeps what came before the damage.
            if (total == 0) ok = false;
            break;
        }
    }
    const uint32_t frameBytes = static_cast<uint32_t>(channels * 2);
    if (total > 0xFFFFFFFFull - 36) total = 0xFFFFFFFFull - 36;
    total -= total % frameBytes;
    if (ok && total > 0) {
        WavHeader(header, channels, rate, static_cast<uint32_t>(total));
        ok = std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, out) == sizeof header;
    }
    if (std::fclose(out) != 0) ok = false;
    if (ok && total == 0) {
        Log("error - no audio in %s", mp3Path.c_str());
        ok = false;
    }
    return ok;
}

}  // namespace tw
