#include "SoundDevice.h"

#include "Log.h"
#include "Outputs.h"
#include "PcmSink.h"
#include "TapOutput.h"

#include <algorithm>

namespace tw {

SoundDevice::~SoundDevice() {
    taps_.clear();
    live_.reset();
    null_.reset();
}

uint32_t SoundDevice::Create(const Guid* guid, OutputMode mode, std::unique_ptr<SoundDevice>& out,
                             int directRate, const std::vector<PcmSink*>& sinks) {
    out.reset();
    std::unique_ptr<SoundDevice> device(new SoundDevice);
    if (mode == OutputMode::Direct) {
        device->mixer_ = std::make_unique<Mixer>(directRate);
        out = std::move(device);
        return DS_OK;
    }
    // Outputs beside the pacing one each take a copy of the mix.
    auto startTaps = [&device](const std::vector<PcmSink*>& others) {
        for (PcmSink* sink : others) {
            auto tap = std::make_unique<TapOutput>(*device->mixer_, *sink);
            if (tap->Start()) device->taps_.push_back(std::move(tap));
        }
    };
    if (mode == OutputMode::Null || mode == OutputMode::Sink) {
        if (mode == OutputMode::Sink && sinks.empty()) return DSERR_NODRIVER;
        PcmSink* direct = mode == OutputMode::Sink && sinks.size() == 1 ? sinks[0] : nullptr;
        int rate = 48000;
        if (mode == OutputMode::Sink) {
            rate = 0;
            for (PcmSink* sink : sinks) rate = std::max(rate, sink->rate());
        }
        device->mixer_ = std::make_unique<Mixer>(rate);
        device->direct_ = direct;
        if (mode == OutputMode::Sink && !direct) startTaps(sinks);
        device->null_ = std::make_unique<NullOutput>(*device->mixer_, direct);
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
    startTaps(sinks);
    out = std::move(device);
    return DS_OK;
}

bool SoundDevice::OnOutput() const {
    return live_ && live_->OnDevice();
}

std::vector<std::pair<std::string, std::string>> SoundDevice::SinkStates() const {
    std::vector<std::pair<std::string, std::string>> states;
    if (direct_) states.emplace_back(direct_->Name(), direct_->State());
    for (const auto& tap : taps_) states.emplace_back(tap->sink().Name(), tap->State());
    return states;
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
