// A 44.1 kHz 16-bit stereo song and an 8 kHz 8-bit mono message playing together,
// rendered to 48 kHz float stereo. Reports how many times faster than real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "SoundDevice.h"

using namespace tw;

namespace {

std::unique_ptr<SoundBuffer> Make(SoundDevice& device, WaveFormat f, double seconds) {
    const uint32_t frames = static_cast<uint32_t>(f.samplesPerSec * seconds);
    std::unique_ptr<SoundBuffer> b;
    device.CreateSoundBuffer(f, frames * f.blockAlign(), b);
    uint8_t* p;
    uint32_t bytes;
    b->Lock(&p, &bytes);
    for (uint32_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>((i * 7919u) >> 3);
    return b;
}

void BM_SongAndMessage60s(benchmark::State& state) {
    std::unique_ptr<SoundDevice> device;
    SoundDevice::Create(nullptr, OutputMode::Direct, device, 48000);
    const int frames = 60 * 48000;
    std::vector<float> out(2 * 1024);
    for (auto _ : state) {
        state.PauseTiming();
        auto song = Make(*device, {kFormatPcm, 2, 44100, 16}, 61);
        auto voice = Make(*device, {kFormatPcm, 1, 8000, 8}, 61);
        state.ResumeTiming();
        song->SetVolume(-750);
        song->Play();
        voice->Play();
        for (int done = 0; done < frames; done += 1024) device->mixer().Render(out.data(), 1024);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SongAndMessage60s)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
