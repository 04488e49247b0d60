#pragma once

// Writes a rendered mix to a sound file with libsndfile: the container from the
// file name's extension (".wav", ".flac", ".ogg", ".au") and the sample encoding
// asked for (16-bit PCM, G.711 u-law or A-law, or 32-bit float). One thread.

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct SoundFileFormat {
    int rate = 44100;
    int channels = 2;
    std::string encoding = "pcm16";  // pcm16, ulaw, alaw, float
};

class SoundFileWriter {
  public:
    ~SoundFileWriter();
    // False, with a line for the user in `why`, for an extension or encoding the
    // container cannot take, or a file that cannot be made.
    bool Open(const std::string& path, const SoundFileFormat& format, std::string& why);
    // `frames` stereo float frames, downmixed when the file is mono.
    bool Write(const float* stereo, int frames);
    // False when the file could not be finished.
    bool Close();

  private:
    SNDFILE* file_ = nullptr;
    int channels_ = 2;
    std::vector<float> mono_;
};

// The libsndfile major format for a file name's extension; 0 when unknown.
int ContainerForName(const std::string& path);

// The longest render, in seconds, that a file named `path` can hold in `format`:
// the data sizes of WAV and AU are 32 bits (a phone system's WAV stays a plain
// one, not RF64); FLAC and Ogg have no limit of their own. A year at most.
int64_t MostSecondsFor(const std::string& path, const SoundFileFormat& format);

}  // namespace tw
