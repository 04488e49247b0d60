#pragma once

#include <memory>
#include <string>

#include "SoundData.h"

namespace tw {

enum class Mp3Result {
    Ok,
    Unreadable,  // missing, not a regular file, or cannot be opened
    NoAudio,     // nothing could be decoded (or, without an image, not written)
    TooLong,     // decoded it would pass the 4 GiB a sound buffer can hold
};

// Decodes an MP3 file into a WAV file in the canonical 44-byte layout: 16-bit PCM
// at the MP3's own rate and channel count. When `image` is given it receives the
// bytes of that file, so the caller need not read it back, and a file that cannot
// be written is only logged. No length the file claims is trusted for memory: a
// sound that would be too long is refused before decoding where the stream says
// so, and as soon as it passes the limit otherwise. Any thread; calls that write
// the same WAV file take turns.
Mp3Result DecodeMp3(const std::string& mp3Path, const std::string& wavPath,
                    std::unique_ptr<SoundData>* image = nullptr);

// The same, true for Ok.
inline bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath,
                               std::unique_ptr<SoundData>* image = nullptr) {
    return DecodeMp3(mp3Path, wavPath, image) == Mp3Result::Ok;
}

}  // namespace tw
