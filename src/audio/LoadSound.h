#pragma once

// Turns one WAV or MP3 file into one sound buffer holding the whole sound. Main
// thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MessageBox.h"
#include "SoundData.h"
#include "SoundDevice.h"

namespace tw {

// `path` is a stored name (backslashes allowed), relative to the working folder. An
// MP3 (any name containing ".mp3", in any letter case) is first decoded to
// "tmp.wav". False when nothing was loaded; true with data and size set, and a
// buffer unless creating it failed (reported by a box). The buffer plays the
// samples in place in the data, which it shares. Without a device the data is
// loaded and no buffer is made.
bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundData>& dataOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes);

}  // namespace tw
