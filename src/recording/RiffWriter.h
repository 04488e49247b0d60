#pragma once

// Writes RIFF files chunk by chunk: create a chunk (its header is written and the
// chunk entered), write into it, ascend (its size is corrected to what was written
// and an odd size gets a zero pad byte), close. One thread at a time.

#include <cstdint>
#include <cstdio>
#include <string>

namespace tw {

struct RiffChunk {
    char id[4] = {0, 0, 0, 0};    // "RIFF" for the outer chunk
    uint32_t size = 0;            // as written in the header until the ascent
    char form[4] = {0, 0, 0, 0};  // the form type of a RIFF chunk ("WAVE")
    long dataOffset = 0;          // where the chunk's data starts
};

class RiffWriter {
  public:
    ~RiffWriter() { Close(); }
    // Creates (or truncates) the file; false when it cannot be.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }
    // `riff`: the outer chunk, "RIFF" with `chunk.form` after its size.
    void CreateChunk(RiffChunk& chunk, bool riff = false);
    void Write(const void* bytes, size_t count);
    void Ascend(RiffChunk& chunk);
    void Close();

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace tw
