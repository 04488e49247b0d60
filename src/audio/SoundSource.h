#pragma once

// A sound file's samples, read in blocks in the PCM layout the file declares (a WAV
// file), or decoded as they are asked for (an MP3). Nothing holds more than a
// block: the cost of a source does not grow with the length of its sound.
//
// Threads: one thread at a time (the preload worker opens it, then the feeder of
// its SoundStream reads it).

#include <cstdint>
#include <memory>
#include <string>

#include "WaveFormat.h"

namespace tw {

class SoundSource {
  public:
    virtual ~SoundSource() = default;
    const WaveFormat& format() const { return format_; }
    // Frames of samples the headers promise (the WAV data chunk, held to what the
    // file has; libmpg123's scan of the MP3's frames).
    uint64_t frames() const { return frames_; }
    // Reads up to `maxFrames` whole frames into `dest`: how many were read, 0 at the
    // end of the samples (or where the file now ends), -1 when reading failed.
    virtual int64_t Read(uint8_t* dest, int64_t maxFrames) = 0;
    // Back to the first frame; false when that cannot be done.
    virtual bool Rewind() = 0;
    // Why the last Read returned -1, or why a file ended before its promise.
    const std::string& problem() const { return problem_; }

  protected:
    WaveFormat format_;
    uint64_t frames_ = 0;
    std::string problem_;
};

enum class SourceResult { Ok, Missing, NotASound, NoAudio };

// A WAV file's source: its header is parsed from a mapping of the file (which
// reads only the pages it touches), its samples read with pread. `fileBytes` is
// the file's size, `dataOffset` where its samples start.
SourceResult OpenWavSource(const std::string& nativePath, std::unique_ptr<SoundSource>& out,
                           uint64_t& fileBytes, uint64_t& dataOffset);

// An MP3's source: 16-bit PCM at the stream's own rate and channel count, or at
// `rate` when it is not 0, and in mono for `mono` (libmpg123 converts, which costs
// less than decoding all and converting after). Its length comes from a scan of
// the frame headers, so a header that promises more than the file holds is not
// believed.
SourceResult OpenMp3Source(const std::string& nativePath, std::unique_ptr<SoundSource>& out,
                           long rate = 0, bool mono = false);

}  // namespace tw
