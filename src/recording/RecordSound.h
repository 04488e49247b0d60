#pragma once

// The capture thread of the voice recorder: records the chosen input (the system's
// default unless one is named) at 8000 Hz, unsigned 8-bit mono, and hands the sound
// to the writer in whole 1000-byte blocks, in order. The partly filled block at a
// stop is dropped.
//
// Threads: Post from any thread; the messages run on the capture thread. SDL's
// callback runs on the audio system's thread: it never allocates, opens a file or
// waits on a lock. It fills blocks of a fixed pool of five, which pass between it
// and the capture thread through two lock-free rings; the capture thread copies
// each full block into a message for the writer and gives the block back.
// A device is closed on a short-lived thread of its own, which keeps the pool
// alive until the close returns: SDL's close waits for its capture thread, which
// a stalled input can hold for ever, and the recorder must never wait on that.
// Events (a failure, a lost device, a block's peak) are reported through a
// function called on the capture thread; the caller moves them to its own thread.

#include <SDL.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MessageThread.h"

namespace tw {

class CWriteSoundFile;

// A single-producer, single-consumer ring of small integers.
class BlockRing {
  public:
    bool Push(int value);
    bool Pop(int& value);

  private:
    static constexpr unsigned kSize = 8;
    std::array<int, kSize> slots_{};
    std::atomic<unsigned> head_{0};  // next to pop
    std::atomic<unsigned> tail_{0};  // next to push
};

struct CaptureEvent {
    enum Kind { Failed, Lost, Block, Inputs } kind;
    std::string text;         // Failed and Lost: "WAVEIN:%x:%s"
    int peak = 0;             // Block: 0..128, the largest distance from silence
    uintptr_t recording = 0;  // the StartCapture's wParam it belongs to
    std::vector<std::string> inputs;  // Inputs: the names of the inputs there are now
};

// The input the next recordings use, by the name the input list gave; an empty
// name is the system's default input.
struct InputChoice : MessagePayload {
    std::string name;
};

constexpr int kCaptureBlockBytes = 1000;  // one eighth of a second
constexpr int kCaptureBlocks = 5;         // at most this many in flight

// What the audio thread touches during one recording.
struct CaptureState {
    std::array<std::array<uint8_t, kCaptureBlockBytes>, kCaptureBlocks> pool{};
    BlockRing free;
    BlockRing full;
    int filling = -1;  // audio thread only
    int filled = 0;    // audio thread only
    std::atomic<bool> accepting{true};
    std::atomic<unsigned> dropped{0};
};

class CRecordSound {
  public:
    enum Message {
        StartCapture = 1524,  // wParam: a number the events of this recording carry
        StopCapture = 1525,
        QuitCapture = 1527,
        SetWriter = 1528,  // wParam: the CWriteSoundFile, not owned
        ListInputs = 1529,  // answered with an Inputs event
        UseInput = 1530,    // payload: InputChoice
    };
    static constexpr int kBlockBytes = kCaptureBlockBytes;
    static constexpr int kBlocks = kCaptureBlocks;
    // With no block for this long while capturing, the input counts as lost.
    static constexpr std::chrono::seconds kStall{3};
    // Codes of "WAVEIN:%x:%s" (ours: SDL has no numbers).
    static constexpr unsigned kNoDevice = 2, kCannotStart = 4, kCannotWrite = 0x20, kLost = 0x40;

    using Events = std::function<void(const CaptureEvent&)>;
    CRecordSound(int rate, Events events);
    virtual ~CRecordSound();  // QuitCapture, then joins

    void Post(int message, uintptr_t wParam = 0, std::unique_ptr<MessagePayload> payload = nullptr);
    // Called with each full block's samples, on the capture thread. Does nothing here.
    virtual void OnData(const uint8_t* data, int bytes);

  private:
    bool Handle(ThreadMessage& message);
    void Start(uintptr_t recording);
    void Stop();
    void Pump();  // moves full blocks to the writer; watches for a stalled input
    void Fail(unsigned code, const std::string& text, CaptureEvent::Kind kind);
    bool StartSdl();
    void CloseDevice();
    void ReleaseSdl();
    static void Callback(void* state, Uint8* stream, int len);

    int rate_;
    Events events_;
    CWriteSoundFile* writer_ = nullptr;
    std::string input_;  // empty: the default input
    SDL_AudioDeviceID device_ = 0;
    bool sdlStarted_ = false;  // one reference on SDL's audio, for the recorder's life
    std::shared_ptr<std::atomic<int>> closing_ = std::make_shared<std::atomic<int>>(0);
    bool capturing_ = false;
    uintptr_t recording_ = 0;
    std::chrono::steady_clock::time_point lastBlock_;
    std::shared_ptr<CaptureState> state_;  // the recording's, shared with its closer

    MessageThread thread_;  // last: runs once the rest is built
};

}  // namespace tw
