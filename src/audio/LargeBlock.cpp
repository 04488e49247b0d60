#include "LargeBlock.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace tw {

constexpr size_t kMapThreshold = size_t{1} << 20;

LargeBlock::LargeBlock(size_t bytes) : size_(bytes) {
    if (bytes >= kMapThreshold) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, bytes, MADV_HUGEPAGE);
        data_ = static_cast<uint8_t*>(p);
        mapped_ = true;
    } else {
        data_ = new uint8_t[bytes ? bytes : 1]();
    }
}

LargeBlock::~LargeBlock() {
    Free();
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        Free();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void LargeBlock::Free() {
    if (!data_) return;
    if (mapped_)
        munmap(data_, size_);
    else
        delete[] data_;
    data_ = nullptr;
}

}  // namespace tw
