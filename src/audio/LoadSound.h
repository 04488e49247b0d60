#pragma once

// Turns one WAV or MP3 file into one sound buffer that streams it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MessageBox.h"
#include "SoundDevice.h"
#include "SoundStream.h"
#include "WavParser.h"

namespace tw {

// A sound opened and checked, its first block read, not yet given a buffer.
struct LoadedSound {
    std::shared_ptr<SoundStream> stream;
    WavInfo info;             // format, and the bytes of samples (dataOffset: where they start)
    uint64_t size = 0;        // bytes of the buffer: the WAV file, or 44 + the decoded MP3
    std::string error;        // the box's text when nothing was loaded
    bool missingMp3 = false;  // the failure was an MP3 that is not there
    int trim = 0;             // loudness levelling, hundredths of a dB (see Leveller)
};

// How an MP3 is decoded: at the mixer's rate when that is a phone's 8000 Hz
// (libmpg123 converts on the way, cheaper than a full decode and a resample), and
// then in mono when the output keeps one channel; otherwise at the file's own
// rate and channels. 0: always the file's own rate.
struct LoadOptions {
    int outputRate = 0;
    bool monoOutput = false;
};

// The reading half of LoadSound, safe on any thread: no box, no device. `path`
// is a stored name (backslashes allowed), relative to the working folder; a name
// that is absolute or climbs out with ".." is refused like a missing file. An MP3
// is any name containing ".mp3", in any letter case. Only a file's headers and
// first block are read. True with stream set; false with `error` set.
bool ReadSound(const std::string& path, LoadedSound& out, LoadOptions options = {});

// The opening half of ReadSound: the source, with `out` filled but for the stream.
bool OpenSoundSource(const std::string& path, std::unique_ptr<SoundSource>& source,
                     LoadedSound& out, LoadOptions options = {});

// The device half, main thread: a buffer that plays the stream, which it shares.
// Creation errors are shown; bufferOut stays empty then.
void MakeSoundBuffer(const LoadedSound& sound, const std::string& path, SoundDevice& device,
                     std::unique_ptr<SoundBuffer>& bufferOut, MessageBox& boxes);

// Both halves, main thread. False when nothing was loaded (the reason shown in a
// box with the caption "Error"; the slots are emptied, but for a missing MP3,
// which leaves them as they were); true with stream and size set, and a buffer
// unless creating it failed. Without a device the file is opened and no buffer is
// made. A size past 4 GiB is given as 0xFFFFFFFF.
bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundStream>& streamOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes);

}  // namespace tw
