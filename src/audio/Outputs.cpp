#include "Outputs.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Log.h"
#include "Pacer.h"
#include "PcmSink.h"

namespace tw {

// 4096 frames (93 ms at 44.1 kHz): at 1024 the sound server's client library wakes
// four times as often and costs more than the decoding and mixing together. On-hold
// music does not need lower latency; fades step every 100 ms.
constexpr int kPeriodFrames = 4096;

static std::mutex g_sdlLock;

namespace {

void AlsaSaysNothing(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library prints its own complaints on stderr (eight lines each time a
// missing sound server makes SDL try it); our log says what matters once. The
// library SDL loads is the one held here, so its handler stays ours.
void QuietAlsa() {
    static const bool done = [] {
        void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NODELETE);
        if (!alsa) return true;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        if (auto set = reinterpret_cast<int (*)(Handler)>(::dlsym(alsa, "snd_lib_error_set_handler")))
            set(&AlsaSaysNothing);
        return true;
    }();
    (void)done;
}

// Whether a unix socket at `path` takes a connection now.
bool Answers(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool SoundServerAnswers() {
    if (const char* server = std::getenv("PULSE_SERVER"); server && server[0]) {
        const std::string s = server;
        return s.rfind("unix:", 0) == 0 ? Answers(s.substr(5)) : s[0] == '/' && Answers(s);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !runtime[0]) return false;
    return Answers(std::string(runtime) + "/pulse/native") ||
           Answers(std::string(runtime) + "/pipewire-0");
}

bool OnFallbackDriver() {
    // A driver named by the user is never second best.
    if (const char* chosen = std::getenv("SDL_AUDIODRIVER"); chosen && chosen[0]) return false;
    std::lock_guard<std::mutex> hold(g_sdlLock);
    const char* driver = SDL_WasInit(SDL_INIT_AUDIO) ? SDL_GetCurrentAudioDriver() : nullptr;
    if (!driver) return false;
    const std::string d = driver;
    return d != "pulseaudio" && d != "pipewire" && d != "jack";
}

bool EnsureSdlAudio() {
    std::lock_guard<std::mutex> hold(g_sdlLock);
    if (SDL_WasInit(SDL_INIT_AUDIO)) return true;
    QuietAlsa();
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

bool SdlOutput::Open(const std::string& name, bool quiet) {
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
        if (!quiet)
            Log("error - cannot open sound output %s (%s)",
                name.empty() ? "(default)" : name.c_str(), SDL_GetError());
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
    // A sink gets its own blocks (a quarter second for a pipe; a packet for RTP),
    // mixed ahead in pieces of at least 100 ms: one pass of the mixer serves
    // five 20 ms packets, each handed over on its own deadline. Without a sink,
    // 100 ms blocks: other outputs may take copies of the mix, each on a clock of
    // its own.
    const int rate = mixer_.outputRate();
    const int frames = sink_ ? sink_->blockFrames() : std::max(1, rate / 10);
    const int ahead = std::max(1, rate / 10 / frames);
    std::vector<float> scratch(2 * static_cast<size_t>(frames) * static_cast<size_t>(ahead));
    Pacer pacer(std::chrono::nanoseconds(1000000000LL * frames / rate));
    // The next piece is mixed right after the last block of the one before has
    // gone, in the time before the next deadline: a block never waits for a mix.
    mixer_.Render(scratch.data(), frames * ahead);
    pacer.Restart();  // time starts once the first piece is made
    int left = ahead;
    while (!quit_) {
        if (sink_) sink_->Consume(scratch.data() + 2 * static_cast<size_t>(frames) * (ahead - left), frames);
        if (--left == 0) {
            mixer_.Render(scratch.data(), frames * ahead);
            left = ahead;
        }
        if (const long long skipped = pacer.Wait(); skipped > 0 && sink_)
            sink_->Skip(static_cast<int>(skipped * frames));
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

bool LiveOutput::OpenAnew() {
    // Each try starts SDL's audio afresh, so that every driver is asked again
    // in its order and none that answered once is kept for good.
    RestartSdlAudio();
    if (!sdl_.Open(name_, true)) return false;
    null_.Stop();  // only one output renders at a time
    sdl_.Resume();
    onDevice_ = true;
    return true;
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
        } else if (onDevice_ && moveCooldown_ > 0) {
            --moveCooldown_;
        } else if (onDevice_ && OnFallbackDriver() && SoundServerAnswers()) {
            // Opened on ALSA while the sound server was away (or before it
            // started): the server is back, so the whole driver order is tried
            // again, the server first.
            sdl_.Close();
            null_.Start();
            onDevice_ = false;
            if (OpenAnew() && !OnFallbackDriver())
                Log("status - sound output moved to the sound server");
            else
                moveCooldown_ = 30;  // the server answers but SDL cannot use it: a minute on
        } else if (!onDevice_ && OpenAnew()) {
            Log("status - sound output back");
        }
    }
}

}  // namespace tw
