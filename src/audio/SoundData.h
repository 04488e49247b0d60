#pragma once

// A whole sound file in memory, one byte longer than the file and ending in a zero
// byte.

#include <cstddef>
#include <cstdint>

#include "LargeBlock.h"

namespace tw {

class SoundData {
  public:
    // Room for a file of `fileSize` bytes; the byte after them is set to zero.
    explicit SoundData(size_t fileSize) : bytes_(fileSize + 1), fileSize_(fileSize) {}
    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }
    size_t fileSize() const { return fileSize_; }
    // Keeps the first `fileSize` bytes (no more than it had) and the zero after them.
    void Shrink(size_t fileSize) {
        if (fileSize < fileSize_) fileSize_ = fileSize;
        bytes_.data()[fileSize_] = 0;
    }

  private:
    LargeBlock bytes_;
    size_t fileSize_;
};

}  // namespace tw
