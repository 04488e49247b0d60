#pragma once

#include <memory>
#include <string>

#include "SoundData.h"

namespace tw {

// Decodes an MP3 file into a WAV file in the canonical 44-byte layout: 16-bit PCM
// at the MP3's own rate and channel count. When `image` is given it receives the
// bytes of that file, so the caller need not read it back, and a file that cannot
// be written is only logged. False when nothing could be decoded (or, without
// `image`, the file could not be written).
bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath,
                        std::unique_ptr<SoundData>* image = nullptr);

}  // namespace tw
