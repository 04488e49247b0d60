#pragma once

// Outputs that pull sound from the mixer.
//
// Threads: construction, Start and Stop on the main thread. The SDL output calls
// the mixer on SDL's audio thread, the null output on a thread of its own, and
// LiveOutput's watcher thread switches between them; at no time do two of them
// render at once.

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Guid.h"
#include "Mixer.h"

namespace tw {

// SDL's audio subsystem, started on first use.
bool EnsureSdlAudio();
// Shuts SDL's audio subsystem down so that the next use connects anew.
void RestartSdlAudio();
// Whether a sound server (PulseAudio or PipeWire) takes connections now.
bool SoundServerAnswers();
// Whether SDL plays through a driver it fell back to (ALSA) when a sound server
// was not there, and the user did not choose the driver.
bool OnFallbackDriver();

// Calls back once per output: the default output first (no GUID, "Default audio
// device"), then each output SDL lists; return false to stop.
using OutputCallback = std::function<bool(const Guid* guid, const std::string& description,
                                          const std::string& module)>;
void EnumerateOutputs(const OutputCallback& callback);

// The rate an output prefers (48000 when it does not say). Empty name: the default.
int PreferredRate(const std::string& name);

class SdlOutput {
  public:
    explicit SdlOutput(Mixer& mixer) : mixer_(mixer) {}
    ~SdlOutput() { Close(); }
    // Opens paused; empty name for the default output. A failure is logged
    // unless `quiet` (a retry).
    bool Open(const std::string& name, bool quiet = false);
    void Resume();
    void Close();
    bool IsOpen() const { return device_ != 0; }
    bool IsLost() const;

  private:
    static void Callback(void* self, Uint8* stream, int len);
    Mixer& mixer_;
    SDL_AudioDeviceID device_ = 0;
};

class PcmSink;

// Pulls from the mixer in real time, paced by the monotonic clock, and discards the
// sound, or hands each block to a sink.
class NullOutput {
  public:
    explicit NullOutput(Mixer& mixer, PcmSink* sink = nullptr) : mixer_(mixer), sink_(sink) {}
    ~NullOutput() { Stop(); }
    void Start();
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }

  private:
    void Run();
    Mixer& mixer_;
    PcmSink* sink_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
};

// An SDL output that survives losing its device: the null output keeps playback
// time going while the device is reopened every 2 seconds. With nothing to play for
// a few seconds it closes the device, and opens it again when a sound starts.
class LiveOutput {
  public:
    LiveOutput(Mixer& mixer, std::string name);
    ~LiveOutput();
    // Opens the device; false if it could not be opened (playback then runs on the
    // null output and the device is tried again every 2 seconds).
    bool Start();
    bool OnDevice() const { return onDevice_; }
    // Off the device, and not for want of anything to play: the output was lost (or
    // never opened), and is tried again every 2 seconds.
    bool Lost() const { return !onDevice_ && !resting_; }

  private:
    void Watch();
    void Wake();  // a sound started
    // Opens the device with SDL started afresh; on success the null output stops.
    bool OpenAnew();
    Mixer& mixer_;
    std::string name_;
    SdlOutput sdl_;
    NullOutput null_;
    std::atomic<bool> onDevice_{false};
    std::thread watcher_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool woken_ = false;
    std::atomic<bool> resting_{false};  // closed for want of anything to play
    int moveCooldown_ = 0;  // watcher checks before another move to the sound server
};

}  // namespace tw
