#pragma once

// The program's one sound device: a mixer and the output that pulls from it. It
// hands out buffers that each play one sound. Main thread only.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DsResult.h"
#include "Guid.h"
#include "Mixer.h"
#include "SoundBuffer.h"

namespace tw {

class LiveOutput;
class NullOutput;
class TapOutput;

enum class OutputMode {
    Device,  // an SDL output, kept alive across losses
    Null,    // real time, sound discarded
    Direct,  // no output: the caller renders (tests, the render mode)
    Sink,    // real time into one or more PcmSinks (a pipe, a stream, RTP)
};

class PcmSink;

class SoundDevice {
  public:
    ~SoundDevice();
    // In the manner of DirectSoundCreate8: null or all-zero GUID for the default
    // output. DSERR_NODRIVER when no present output has that GUID,
    // DSERR_ALLOCATED when it cannot be opened.
    // Sink mode plays into `sinks`, and Device mode into them too, beside the
    // sound card; they must outlive the device. One sink alone sets the mixer's
    // rate and is fed by the pacing thread itself; several get copies of one mix
    // (made at the highest of their rates), each through a thread of its own.
    static uint32_t Create(const Guid* guid, OutputMode mode, std::unique_ptr<SoundDevice>& out,
                           int directRate = 44100, const std::vector<PcmSink*>& sinks = {});
    uint32_t SetCooperativeLevel(int level) { return level == 1 ? 0 : DSERR_INVALIDPARAM; }
    // A silent buffer of `bytes` in `format`; DSERR_BADFORMAT for a format the mixer
    // cannot play.
    uint32_t CreateSoundBuffer(const WaveFormat& format, uint32_t bytes,
                               std::unique_ptr<SoundBuffer>& out);
    // A buffer of `bytes` that plays a stream (see SoundBuffer); the same format
    // rules. The stream is fed from here on: by a thread of its own, or, when the
    // caller renders (Direct), by the render itself, so that a render is the same
    // every time.
    uint32_t CreateStreamBuffer(uint64_t bytes, std::shared_ptr<SoundStream> stream,
                                std::unique_ptr<SoundBuffer>& out);
    Mixer& mixer() { return *mixer_; }
    // The sound output is open and carrying the mixer (not resting, not lost).
    bool OnOutput() const;
    // A sound card output that was lost (or would not open) and is being tried again.
    bool OutputLost() const;
    // Each sink's name and state ("rtp", "rtp: pcmu to ... (sending)"), in the
    // order they were given.
    std::vector<std::pair<std::string, std::string>> SinkStates() const;

  private:
    SoundDevice() = default;
    std::unique_ptr<Mixer> mixer_;
    std::unique_ptr<LiveOutput> live_;
    std::unique_ptr<NullOutput> null_;
    std::vector<std::unique_ptr<TapOutput>> taps_;
    PcmSink* direct_ = nullptr;  // the one sink the pacing thread feeds itself
};

}  // namespace tw
