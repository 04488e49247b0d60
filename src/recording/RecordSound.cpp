#include "RecordSound.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Log.h"
#include "WriteSoundFile.h"

namespace tw {

bool BlockRing::Push(int value) {
    const unsigned tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) >= kSize) return false;
    slots_[tail % kSize] = value;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

bool BlockRing::Pop(int& value) {
    const unsigned head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    value = slots_[head % kSize];
    head_.store(head + 1, std::memory_order_release);
    return true;
}

CRecordSound::CRecordSound(int rate, Events events)
    : rate_(rate),
      events_(std::move(events)),
      thread_([this](ThreadMessage& m) { return Handle(m); }, [this] { Pump(); },
              std::chrono::milliseconds(20)) {}

CRecordSound::~CRecordSound() {
    Post(QuitCapture);
}

void CRecordSound::Post(int message, uintptr_t wParam, std::unique_ptr<MessagePayload> payload) {
    thread_.Post(message, wParam, std::move(payload));
}

void CRecordSound::OnData(const uint8_t*, int) {}

bool CRecordSound::Handle(ThreadMessage& message) {
    switch (message.id) {
        case StartCapture:
            Start(message.wParam);
            break;
        case StopCapture:
            Stop();
            break;
        case QuitCapture:
            Stop();
            ReleaseSdl();
            return false;
        case SetWriter:
            writer_ = reinterpret_cast<CWriteSoundFile*>(message.wParam);
            break;
        case ListInputs: {
            CaptureEvent inputs{CaptureEvent::Inputs, {}, 0, 0, {}};
            if (StartSdl()) {
                const int n = SDL_GetNumAudioDevices(1);
                for (int i = 0; i < n; ++i)
                    if (const char* name = SDL_GetAudioDeviceName(i, 1)) inputs.inputs.push_back(name);
            }
            if (events_) events_(inputs);
            break;
        }
        case UseInput:
            if (auto* choice = dynamic_cast<InputChoice*>(message.payload.get())) input_ = choice->name;
            break;
        default:
            break;
    }
    Pump();
    return true;
}

void CRecordSound::Fail(unsigned code, const std::string& text, CaptureEvent::Kind kind) {
    char line[400];
    std::snprintf(line, sizeof line, "WAVEIN:%x:%s", code, text.c_str());
    Log("error - %s", line);
    if (events_) events_(CaptureEvent{kind, line, 0, recording_, {}});
}

void CRecordSound::Start(uintptr_t recording) {
    if (capturing_) return;
    recording_ = recording;
    // The last device may still be closing (a quick stop and start): give it a moment.
    for (int i = 0; i < 200 && *closing_ > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // The writer cannot tell anyone that "sound.wav" could not be made: find out here.
    const int probe = ::open("sound.wav", O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (probe < 0) {
        Fail(kCannotWrite, std::string("cannot write sound.wav: ") + std::strerror(errno),
             CaptureEvent::Failed);
        return;
    }
    ::close(probe);
    if (!StartSdl()) {
        Fail(kNoDevice, SDL_GetError(), CaptureEvent::Failed);
        return;
    }
    if (SDL_GetNumAudioDevices(1) <= 0) {
        Fail(kNoDevice, "no sound input was found", CaptureEvent::Failed);
        return;
    }
    state_ = std::make_shared<CaptureState>();
    for (int i = 0; i < kBlocks; ++i) state_->free.Push(i);
    SDL_AudioSpec want{}, have{};
    want.freq = rate_;
    want.format = AUDIO_U8;
    want.channels = 1;
    want.samples = 512;
    want.callback = &CRecordSound::Callback;
    want.userdata = state_.get();
    device_ = SDL_OpenAudioDevice(input_.empty() ? nullptr : input_.c_str(), 1, &want, &have, 0);
    if (device_ == 0) {
        const std::string why = input_.empty() ? std::string(SDL_GetError())
                                               : "\"" + input_ + "\": " + SDL_GetError();
        state_.reset();
        Fail(kNoDevice, why, CaptureEvent::Failed);
        return;
    }
    SDL_PauseAudioDevice(device_, 0);
    if (SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_PLAYING) {
        const std::string why = SDL_GetError();
        CloseDevice();
        Fail(kCannotStart, why, CaptureEvent::Failed);
        return;
    }
    capturing_ = true;
    lastBlock_ = std::chrono::steady_clock::now();
    if (writer_) {
        auto request = std::make_unique<OpenRequest>();
        request->fileName = "sound.wav";
        request->format.samplesPerSec = static_cast<uint32_t>(rate_);
        request->format.avgBytesPerSec = static_cast<uint32_t>(rate_);
        writer_->Post(CWriteSoundFile::OpenSoundFile, 0, std::move(request));
    }
}

bool CRecordSound::StartSdl() {
    if (!sdlStarted_) sdlStarted_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return sdlStarted_;
}

void CRecordSound::CloseDevice() {
    if (!device_) return;
    state_->accepting = false;
    ++*closing_;
    std::thread([device = device_, state = state_, closing = closing_] {
        SDL_CloseAudioDevice(device);
        --*closing;
    }).detach();
    device_ = 0;
}

void CRecordSound::ReleaseSdl() {
    if (!sdlStarted_) return;
    // SDL's audio is given back once every device is closed; a close held by a
    // stalled input keeps it (and is left to end with the program).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (*closing_ > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (*closing_ == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    } else {
        Log("error - a sound input did not close; it is left to end with the program");
    }
    sdlStarted_ = false;
}

void CRecordSound::Stop() {
    if (!capturing_) return;
    // Blocks filled before the stop still go to the file; the one being filled,
    // and anything the audio thread delivers from now on, do not.
    state_->accepting = false;
    Pump();
    capturing_ = false;
    CloseDevice();
    if (state_->dropped)
        Log("error - %u capture blocks dropped (the writer fell behind)", state_->dropped.load());
    state_.reset();
    if (writer_) writer_->Post(CWriteSoundFile::CloseSoundFile);
}

void CRecordSound::Pump() {
    if (!capturing_) return;
    int index;
    while (state_->full.Pop(index)) {
        const auto& block = state_->pool[static_cast<size_t>(index)];
        OnData(block.data(), kBlockBytes);
        int peak = 0;
        for (uint8_t v : block) peak = std::max(peak, std::abs(static_cast<int>(v) - 128));
        if (writer_) {
            auto copy = std::make_unique<SoundBlock>();
            copy->data.assign(block.begin(), block.end());
            writer_->Post(CWriteSoundFile::WriteSoundBlock, 0, std::move(copy));
        }
        state_->free.Push(index);
        lastBlock_ = std::chrono::steady_clock::now();
        if (events_) events_(CaptureEvent{CaptureEvent::Block, {}, peak, recording_, {}});
    }
    // An input that stopped delivering (unplugged, or a stalled server) is lost:
    // what was captured is kept.
    if (state_->accepting && std::chrono::steady_clock::now() - lastBlock_ > kStall) {
        Stop();
        Fail(kLost, "the sound input stopped delivering sound", CaptureEvent::Lost);
    }
}

void CRecordSound::Callback(void* userdata, Uint8* stream, int len) {
    auto* s = static_cast<CaptureState*>(userdata);
    while (len > 0 && s->accepting.load(std::memory_order_relaxed)) {
        if (s->filling < 0) {
            if (!s->free.Pop(s->filling)) {
                s->dropped.fetch_add(1, std::memory_order_relaxed);
                return;  // every block is in flight: this sound is lost
            }
            s->filled = 0;
        }
        const int n = std::min(len, kBlockBytes - s->filled);
        std::memcpy(s->pool[static_cast<size_t>(s->filling)].data() + s->filled, stream,
                    static_cast<size_t>(n));
        s->filled += n;
        stream += n;
        len -= n;
        if (s->filled == kBlockBytes) {
            s->full.Push(s->filling);
            s->filling = -1;
        }
    }
}

}  // namespace tw
