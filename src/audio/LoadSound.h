#pragma once

// Turns one WAV or MP3 file into one sound buffer holding the whole sound.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MessageBox.h"
#include "SoundData.h"
#include "SoundDevice.h"
#include "WavParser.h"

namespace tw {

// A sound read and checked, not yet given a buffer.
struct LoadedSound {
    std::shared_ptr<SoundData> data;
    WavInfo info;
    uint32_t size = 0;        // bytes of the file (of "tmp.wav" for an MP3)
    std::string error;        // the box's text when nothing was loaded
    bool missingMp3 = false;  // the failure was an MP3 that is not there
    int trim = 0;             // loudness levelling, hundredths of a dB (see Leveller)
};

// The reading half of LoadSound, safe on any thread: no box, no device. `path`
// is a stored name (backslashes allowed), relative to the working folder; a name
// that is absolute or climbs out with ".." is refused like a missing file. An MP3
// (any name containing ".mp3", in any letter case) is first decoded to "tmp.wav".
// Only a file's header is read before it is known to be a sound. True with data
// set; false with `error` set.
bool ReadSound(const std::string& path, LoadedSound& out);

// The device half, main thread: a buffer that plays the samples in place in the
// data, which it shares. Creation errors are shown; bufferOut stays empty then.
void MakeSoundBuffer(const LoadedSound& sound, const std::string& path, SoundDevice& device,
                     std::unique_ptr<SoundBuffer>& bufferOut, MessageBox& boxes);

// Both halves, main thread. False when nothing was loaded (the reason shown in a
// box with the caption "Error"; the slots are emptied, but for a missing MP3,
// which leaves them as they were); true with data and size set, and a buffer unless
// creating it failed. Without a device the data is loaded and no buffer is made.
bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundData>& dataOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes);

}  // namespace tw
