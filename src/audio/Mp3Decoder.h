#pragma once

#include <string>

namespace tw {

// Decodes an MP3 file into a WAV file in the canonical 44-byte layout: 16-bit PCM
// at the MP3's own rate and channel count. False (and the output left partial or
// absent) when nothing could be decoded.
bool CbMpegAudioDecoder(const std::string& mp3Path, const std::string& wavPath);

}  // namespace tw
