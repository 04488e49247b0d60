#pragma once

// A sound read from its file a few seconds ahead of where it plays, into a ring
// that the mixer reads. However long the sound, the ring holds about 4 seconds.
//
// Threads: made on any thread; Prime reads the first block on the maker's thread
// (the preload worker). Once feeding, one feeder writes the ring: its own thread,
// or, filled inline, the thread that renders (a render run, a test, which have no
// audio thread to protect). The mixer's render is the only reader. Each side moves
// only its own counter, so the render never waits on the feeder, whatever a read
// costs. Restart and Stop belong to the owner (the main thread), and Restart only
// while the render leaves the stream alone.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SoundSource.h"

namespace tw {

class SoundStream {
  public:
    // `name` is what the log calls the sound.
    SoundStream(std::unique_ptr<SoundSource> source, std::string name);
    ~SoundStream();  // stops feeding; never waits for a read that hangs
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    const WaveFormat& format() const { return format_; }
    // Frames of samples the file promises.
    uint64_t frames() const { return frames_; }
    // Reads the first block now; false (with `problem`) when the file cannot be
    // read or its first samples are damaged.
    bool Prime(std::string& problem);
    // Starts a feeder thread of its own, or has the render fill the ring itself
    // when it runs short.
    void FeedInThread();
    void FeedInline();

    // Render: up to `maxFrames` frames at the read position, in one piece.
    int64_t Peek(const uint8_t** at, int64_t maxFrames);
    void Consume(int64_t frames);
    // No more frames will come: the file ended (where it promised, or earlier).
    bool Ended() const;

    // Owner: back to the first frame, for a sound played again from its start.
    void Restart();

  private:
    struct Shared;
    static void FeedLoop(std::shared_ptr<Shared> shared);
    void Stop();

    WaveFormat format_;
    uint64_t frames_;
    std::shared_ptr<Shared> shared_;  // shared with a feeder thread that may outlive this
    std::thread feeder_;
    bool inline_ = false;
};

}  // namespace tw
