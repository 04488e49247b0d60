#pragma once

// The WAV writer of the voice recorder: a worker thread that is told, by posted
// messages, to create a file with a wave format, append blocks of samples, and
// close it. It writes "RIFF", "WAVE", an 18-byte "fmt " chunk (18 + cbSize) and
// "data", whose sizes are corrected at the close. A file that cannot be created
// leaves it idle: blocks are then freed unwritten and the close does nothing.
//
// Threads: Post from any thread; everything else happens on the writer's thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MessageThread.h"
#include "RiffWriter.h"

namespace tw {

// WAVEFORMATEX: 18 bytes in the file.
struct WaveFormatEx {
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t samplesPerSec = 8000;
    uint32_t avgBytesPerSec = 8000;
    uint16_t blockAlign = 1;
    uint16_t bitsPerSample = 8;
    uint16_t cbSize = 0;
};

struct OpenRequest : MessagePayload {
    std::string fileName;
    WaveFormatEx format;
    std::vector<uint8_t> extra;  // cbSize bytes of the format's extension
};

struct SoundBlock : MessagePayload {
    std::vector<uint8_t> data;
};

class CWriteSoundFile {
  public:
    enum Message {
        OpenSoundFile = 1724,
        WriteSoundBlock = 1725,  // wParam: the sender's thread id (not used)
        CloseSoundFile = 1726,
        CloseAndQuit = 1727,
    };
    CWriteSoundFile();
    ~CWriteSoundFile();  // CloseAndQuit, then joins

    void Post(int message, uintptr_t wParam = 0, std::unique_ptr<MessagePayload> payload = nullptr);

  private:
    bool Handle(ThreadMessage& message);
    void Open(const OpenRequest& request);
    void Close();

    RiffWriter file_;
    RiffChunk riff_;
    RiffChunk sub_;
    MessageThread thread_;  // last: runs once the rest is built
};

}  // namespace tw
