#include "RiffWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "LittleEndian.h"

namespace tw {
namespace {

void Put32(std::FILE* f, uint32_t v) {
    uint8_t b[4];
    PutLe32(b, v);
    std::fwrite(b, 1, 4, f);
}

}  // namespace

bool RiffWriter::Open(const std::string& path) {
    Close();
    // Non-blocking: a FIFO in its place is refused instead of waited on.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "wb");
    if (!file_) ::close(fd);
    return file_ != nullptr;
}

void RiffWriter::CreateChunk(RiffChunk& chunk, bool riff) {
    if (!file_) return;
    if (riff) std::memcpy(chunk.id, "RIFF", 4);
    std::fwrite(chunk.id, 1, 4, file_);
    Put32(file_, chunk.size);
    if (riff) std::fwrite(chunk.form, 1, 4, file_);
    // The form type belongs to the data, as the ascent counts it.
    chunk.dataOffset = std::ftell(file_) - (riff ? 4 : 0);
}

void RiffWriter::Write(const void* bytes, size_t count) {
    if (file_ && count) std::fwrite(bytes, 1, count, file_);
}

void RiffWriter::Ascend(RiffChunk& chunk) {
    if (!file_) return;
    const long end = std::ftell(file_);
    chunk.size = static_cast<uint32_t>(end - chunk.dataOffset);
    if (chunk.size & 1) std::fputc(0, file_);
    const long after = std::ftell(file_);
    std::fseek(file_, chunk.dataOffset - 4, SEEK_SET);
    Put32(file_, chunk.size);
    std::fseek(file_, after, SEEK_SET);
}

void RiffWriter::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace tw
