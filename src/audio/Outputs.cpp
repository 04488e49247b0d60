#include "Outputs.h"

#include <algorithm>
#include <chrono>

#include "Log.h"
#include "PcmSink.h"

namespace tw {

// 4096 frames (93 ms at 44.1 kHz): at 1024 the sound server's client library wakes
// four times as often and costs more than the decoding and mixing together. On-hold
// music does not need lower latency; fades step every 100 ms.
constexpr int kPeriodFrames = 4096;

static std::mutex g_sdlLock;

bool EnsureSdlAudio() {
    std::lock_guard<std::mutex> hold(g_sdlLock);
    if (SDL_WasInit(SDL_INIT_AUDIO)) return true;
    // SIGINT and SIGTERM belong to the program, not to SDL's event queue.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        Log("error - no sound system (%s)", SDL_GetError());
        return false;
    }
    return true;
}

void RestartSdlAudio() {
    std::lock_guard<std::mutex> hold(g_sdlLock);
    if (SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void EnumerateOutputs(const OutputCallback& callback) {
    if (!callback(nullptr, "Default audio device", "")) return;
    if (!EnsureSdlAudio()) return;
    const char* driver = SDL_GetCurrentAudioDriver();
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, 0);
        if (!name) continue;
        const Guid guid = GuidForName(name);
        if (!callback(&guid, name, driver ? driver : "")) return;
    }
}

int PreferredRate(const std::string& name) {
    if (!EnsureSdlAudio()) return 48000;
    SDL_AudioSpec spec{};
    if (name.empty()) {
        char* defaultName = nullptr;
        if (SDL_GetDefaultAudioInfo(&defaultName, &spec, 0) == 0) {
            SDL_free(defaultName);
            if (spec.freq > 0) return spec.freq;
        }
        return 48000;
    }
    const int count = SDL_GetNumAudioDevices(0);
    for (int i = 0; i < count; ++i) {
        const char* n = SDL_GetAudioDeviceName(i, 0);
        if (n && name == n && SDL_GetAudioDeviceSpec(i, 0, &spec) == 0 && spec.freq > 0)
            return spec.freq;
    }
    return 48000;
}

bool SdlOutput::Open(const std::string& name) {
    Close();
    if (!EnsureSdlAudio()) return false;
    SDL_AudioSpec want{};
    want.freq = mixer_.outputRate();
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = kPeriodFrames;
    want.callback = &SdlOutput::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts if the device runs at another rate.
    device_ = SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &want, &have, 0);
    if (device_ == 0) {
        Log("error - cannot open sound output %s (%s)", name.empty() ? "(default)" : name.c_str(),
            SDL_GetError());
        return false;
    }
    return true;
}

void SdlOutput::Resume() {
    if (device_) SDL_PauseAudioDevice(device_, 0);
}

void SdlOutput::Close() {
    if (device_) SDL_CloseAudioDevice(device_);  // waits for a running callback
    device_ = 0;
}

bool SdlOutput::IsLost() const {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

void SdlOutput::Callback(void* self, Uint8* stream, int len) {
    auto* out = static_cast<SdlOutput*>(self);
    out->mixer_.Render(reinterpret_cast<float*>(stream), len / static_cast<int>(2 * sizeof(float)));
}

void NullOutput::Start() {
    if (thread_.joinable()) return;
    quit_ = false;
    thread_ = std::thread(&NullOutput::Run, this);
}

void NullOutput::Stop() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
}

void NullOutput::Run() {
    // A sink gets 100 ms blocks: a steady trickle for a phone system's reader (whose
    // pipe holds seconds), with few wake-ups here and in the sink's writer.
    const int frames = sink_ ? std::max(1, mixer_.outputRate() / 10) : kPeriodFrames;
    std::vector<float> scratch(2 * static_cast<size_t>(frames));
    const auto period = std::chrono::nanoseconds(1000000000LL * frames / mixer_.outputRate());
    auto next = std::chrono::steady_clock::now();
    while (!quit_) {
        mixer_.Render(scratch.data(), frames);
        if (sink_) sink_->Consume(scratch.data(), frames);
        next += period;
        // Never catching up in a burst after a stall: the sink would see a flood.
        const auto now = std::chrono::steady_clock::now();
        if (next < now - std::chrono::milliseconds(200)) next = now;
        std::this_thread::sleep_until(next);
    }
}

LiveOutput::LiveOutput(Mixer& mixer, std::string name)
    : mixer_(mixer), name_(std::move(name)), sdl_(mixer), null_(mixer) {}

LiveOutput::~LiveOutput() {
    mixer_.SetOnStart(nullptr);
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    sdl_.Close();
    null_.Stop();
}

bool LiveOutput::Start() {
    if (sdl_.Open(name_)) {
        sdl_.Resume();
        onDevice_ = true;
    } else {
        null_.Start();
        Log("error - sound output unavailable; playing on silently, trying again every 2 seconds");
    }
    mixer_.SetOnStart([this] { Wake(); });
    watcher_ = std::thread(&LiveOutput::Watch, this);
    return onDevice_;
}

void LiveOutput::Wake() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        woken_ = true;
    }
    wake_.notify_all();
}

void LiveOutput::Watch() {
    std::unique_lock<std::mutex> hold(lock_);
    int idleChecks = 0;
    while (!quit_) {
        wake_.wait_for(hold, std::chrono::seconds(2), [this] { return quit_ || woken_; });
        woken_ = false;
        if (quit_) break;
        // Nothing to play for a while: let the device go, so that a paused player
        // costs nothing. The next sound that starts opens it again.
        const bool idle = mixer_.IsIdle();
        idleChecks = idle ? idleChecks + 1 : 0;
        if (onDevice_ && idleChecks >= 2) {
            sdl_.Close();
            onDevice_ = false;
            resting_ = true;
            continue;
        }
        if (resting_) {
            if (idle) continue;
            resting_ = false;
            if (sdl_.Open(name_)) {
                sdl_.Resume();
                onDevice_ = true;
                continue;
            }
            null_.Start();
            Log("error - sound output unavailable; playing on silently, trying again every 2 "
                "seconds");
            continue;
        }
        if (onDevice_ && sdl_.IsLost()) {
            sdl_.Close();
            null_.Start();
            onDevice_ = false;
            // A sound server that went away leaves SDL's connection dead: start afresh.
            RestartSdlAudio();
            Log("error - sound output lost; playing on silently, trying again every 2 seconds");
        } else if (!onDevice_ && sdl_.Open(name_)) {
            null_.Stop();  // only one output renders at a time
            sdl_.Resume();
            onDevice_ = true;
            Log("status - sound output back");
        }
    }
}

}  // namespace tw
