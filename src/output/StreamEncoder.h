#pragma once

// Encoders for a live stream: MP3 (LAME) or Ogg Opus (libopusenc). Each turns
// blocks of interleaved 16-bit samples into the bytes to send, as they come. One
// thread (the stream's).

#include <cstdint>
#include <memory>
#include <string>

namespace tw {

class StreamEncoder {
  public:
    virtual ~StreamEncoder() = default;
    // Appends the encoded bytes of `frames` frames to `out` (often none yet).
    virtual bool Encode(const int16_t* pcm, int frames, std::string& out) = 0;
    // "mp3" or "opus", at `rate` Hz, `channels`, `kbps` kilobits a second; null with
    // the reason in `why` when the encoder refuses them.
    static std::unique_ptr<StreamEncoder> Make(const std::string& format, int rate, int channels,
                                               int kbps, std::string& why);
};

}  // namespace tw
