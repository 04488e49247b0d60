#include "SoundDevice.h"

#include "Log.h"
#include "Outputs.h"
#include "PcmSink.h"

namespace tw {

SoundDevice::~SoundDevice() {
    live_.reset();
    null_.reset();
}

uint32_t SoundDevice::Create(const Guid* guid, OutputMode mode, std::unique_ptr<SoundDevice>& out,
                             int directRate, PcmSink* sink) {
    out.reset();
    std::unique_ptr<SoundDevice> device(new SoundDevice);
    if (mode == OutputMode::Direct) {
        device->mixer_ = std::make_unique<Mixer>(directRate);
        out = std::move(device);
        return DS_OK;
    }
    if (mode == OutputMode::Null || mode == OutputMode::Sink) {
        if (mode == OutputMode::Sink && !sink) return DSERR_NODRIVER;
        device->mixer_ = std::make_unique<Mixer>(sink ? sink->rate() : 48000);
        device->null_ = std::make_unique<NullOutput>(*device->mixer_,
                                                     mode == OutputMode::Sink ? sink : nullptr);
        device->null_->Start();
        out = std::move(device);
        return DS_OK;
    }
    std::string name;
    const bool wantDefault = guid == nullptr || IsNullGuid(*guid);
    if (!wantDefault) {
        bool found = false;
        EnumerateOutputs([&](const Guid* g, const std::string& description, const std::string&) {
            if (g && *g == *guid) {
                name = description;
                found = true;
                return false;
            }
            return true;
        });
        if (!found) return DSERR_NODRIVER;
    }
    device->mixer_ = std::make_unique<Mixer>(PreferredRate(name));
    device->live_ = std::make_unique<LiveOutput>(*device->mixer_, name);
    // The default output may not be there yet (a sound server still starting at
    // login): play on and keep trying. A chosen output that will not open is an error.
    if (!device->live_->Start() && !wantDefault) return DSERR_ALLOCATED;
    out = std::move(device);
    return DS_OK;
}

bool SoundDevice::OnOutput() const {
    return live_ && live_->OnDevice();
}

bool SoundDevice::OutputLost() const {
    return live_ && live_->Lost();
}

uint32_t SoundDevice::CreateSoundBuffer(const WaveFormat& format, uint32_t bytes,
                                        std::unique_ptr<SoundBuffer>& out) {
    out.reset();
    if (!format.IsPlayable()) return DSERR_BADFORMAT;
    out = std::make_unique<SoundBuffer>(*mixer_, format, bytes);
    return DS_OK;
}

uint32_t SoundDevice::CreateStreamBuffer(uint64_t bytes, std::shared_ptr<SoundStream> stream,
                                         std::unique_ptr<SoundBuffer>& out) {
    out.reset();
    if (!stream || !stream->format().IsPlayable()) return DSERR_BADFORMAT;
    if (!live_ && !null_)
        stream->FeedInline();
    else
        stream->FeedInThread();
    out = std::make_unique<SoundBuffer>(*mixer_, bytes, std::move(stream));
    return DS_OK;
}

}  // namespace tw
