#pragma once

// Memory for whole sounds, which run to tens of megabytes. Large blocks come
// straight from the kernel, zeroed, and ask for huge pages, so that filling a
// three-minute song does not take thousands of page faults.

#include <cstddef>
#include <cstdint>

namespace tw {

class LargeBlock {
  public:
    LargeBlock() = default;
    explicit LargeBlock(size_t bytes);  // zero-filled
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    void Free();
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace tw
