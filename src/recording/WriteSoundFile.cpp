#include "WriteSoundFile.h"

#include <cstring>

#include "LittleEndian.h"
#include "Log.h"

namespace tw {
CWriteSoundFile::CWriteSoundFile() : thread_([this](ThreadMessage& m) { return Handle(m); }) {}

CWriteSoundFile::~CWriteSoundFile() {
    Post(CloseAndQuit);
}

void CWriteSoundFile::Post(int message, uintptr_t wParam, std::unique_ptr<MessagePayload> payload) {
    thread_.Post(message, wParam, std::move(payload));
}

bool CWriteSoundFile::Handle(ThreadMessage& message) {
    switch (message.id) {
        case OpenSoundFile:
            if (auto* request = dynamic_cast<OpenRequest*>(message.payload.get())) Open(*request);
            break;
        case WriteSoundBlock:
            // A block for no open file is freed with the message, unwritten.
            if (auto* block = dynamic_cast<SoundBlock*>(message.payload.get());
                block && file_.IsOpen())
                file_.Write(block->data.data(), block->data.size());
            break;
        case CloseSoundFile:
            Close();
            break;
        case CloseAndQuit:
            Close();
            return false;
        default:
            break;
    }
    return true;
}

void CWriteSoundFile::Open(const OpenRequest& request) {
    Close();
    if (!file_.Open(request.fileName)) {
        Log("error - cannot create %s", request.fileName.c_str());
        return;
    }
    riff_ = RiffChunk{};
    std::memcpy(riff_.form, "WAVE", 4);
    file_.CreateChunk(riff_, true);
    const WaveFormatEx& f = request.format;
    sub_ = RiffChunk{};
    std::memcpy(sub_.id, "fmt ", 4);
    sub_.size = 18u + f.cbSize;
    file_.CreateChunk(sub_);
    uint8_t bytes[18];
    PutLe16(bytes, f.formatTag);
    PutLe16(bytes + 2, f.channels);
    PutLe32(bytes + 4, f.samplesPerSec);
    PutLe32(bytes + 8, f.avgBytesPerSec);
    PutLe16(bytes + 12, f.blockAlign);
    PutLe16(bytes + 14, f.bitsPerSample);
    PutLe16(bytes + 16, f.cbSize);
    file_.Write(bytes, sizeof bytes);
    std::vector<uint8_t> extra(request.extra);
    extra.resize(f.cbSize, 0);
    file_.Write(extra.data(), extra.size());
    file_.Ascend(sub_);
    // The same chunk description serves "data"; its size field stands until the close.
    std::memcpy(sub_.id, "data", 4);
    file_.CreateChunk(sub_);
}

void CWriteSoundFile::Close() {
    if (!file_.IsOpen()) return;
    file_.Ascend(sub_);
    file_.Ascend(riff_);
    file_.Close();
}

}  // namespace tw
