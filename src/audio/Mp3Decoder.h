#pragma once

#include <memory>
#include <string>

#include "SoundData.h"

namespace tw {

// Decodes an MP3 file into a WAV file in the canonical 44-byte layout: 16-bit PCM
// at the MP3's own rate and channel count. When `image` is given it receives the
// bytes written, so the caller need not read the file back. False when nothing
// could be decoded or the file could not be written.
bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath,
                        std::unique_ptr<SoundData>* image = nullptr);

}  // namespace tw
