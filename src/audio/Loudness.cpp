#include "Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "AtomicFile.h"
#include "Log.h"
#include "Paths.h"

namespace tw {
namespace {

// The first line of the cache; a file without it is not ours and is rebuilt.
const char* const kCacheHeader = "tonewell loudness cache 1";
constexpr int kChunkFrames = 4096;

// Figures no real sound has are not believed from a file.
bool Plausible(const LoudnessFigures& f) {
    return (std::isinf(f.lufs) && f.lufs < 0) ||
           (std::isfinite(f.lufs) && f.lufs >= -100 && f.lufs <= 10 && std::isfinite(f.peakDb) &&
            f.peakDb >= -200 && f.peakDb <= 30);
}

// One interleaved chunk of samples as 32-bit integers (8- and 24-bit PCM have no
// libebur128 entry of their own).
void WidenToInt(const uint8_t* p, int bits, size_t samples, std::vector<int>& out) {
    out.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
        if (bits == 8) {
            out[i] = (static_cast<int>(p[i]) - 128) << 24;
        } else {  // 24
            const uint8_t* s = p + 3 * i;
            out[i] = static_cast<int>(static_cast<uint32_t>(s[0]) << 8 |
                                      static_cast<uint32_t>(s[1]) << 16 |
                                      static_cast<uint32_t>(s[2]) << 24);
        }
    }
}

bool FileKey(const std::string& storedName, long long& size, long long& mtime) {
    const FileStamp stamp = StampOf(NativePath(storedName));
    if (stamp == FileStamp{}) return false;
    size = static_cast<long long>(stamp.size);
    mtime = stamp.modifiedNs;
    return true;
}

}  // namespace

bool MeasureLoudness(const std::string& storedName, LoudnessFigures& out,
                     const std::atomic<bool>* keepGoing) {
    std::unique_ptr<SoundSource> source;
    LoadedSound opened;
    if (!OpenSoundSource(storedName, source, opened)) return false;
    const WaveFormat& f = source->format();
    const unsigned channels = f.channels;
    const size_t align = f.blockAlign();
    if (channels == 0 || align == 0) return false;
    ebur128_state* st =
        ebur128_init(channels, f.samplesPerSec, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (!st) return false;
    // A mono sound plays on both sides at once: measured as it is heard.
    if (channels == 1) ebur128_set_channel(st, 0, EBUR128_DUAL_MONO);
    // One pass, a block at a time: the cost does not grow with the sound.
    std::vector<uint8_t> block(kChunkFrames * align);
    std::vector<int> widened;
    std::vector<float> floats;
    bool ok = true;
    for (;;) {
        if (keepGoing && !keepGoing->load()) {
            ok = false;
            break;
        }
        const int64_t got = source->Read(block.data(), kChunkFrames);
        if (got <= 0) break;
        const size_t n = static_cast<size_t>(got);
        const uint8_t* chunk = block.data();
        int rc = EBUR128_SUCCESS;
        if (f.formatTag == kFormatFloat) {
            floats.resize(n * channels);
            std::memcpy(floats.data(), chunk, floats.size() * sizeof(float));
            for (float& x : floats)
                if (!std::isfinite(x)) x = 0;
            rc = ebur128_add_frames_float(st, floats.data(), n);
        } else if (f.bitsPerSample == 16) {
            rc = ebur128_add_frames_short(st, reinterpret_cast<const short*>(chunk), n);
        } else if (f.bitsPerSample == 32) {
            rc = ebur128_add_frames_int(st, reinterpret_cast<const int*>(chunk), n);
        } else {
            WidenToInt(chunk, f.bitsPerSample, n * channels, widened);
            rc = ebur128_add_frames_int(st, widened.data(), n);
        }
        ok = rc == EBUR128_SUCCESS;
        if (!ok) break;
    }
    double lufs = 0, peak = 0;
    ok = ok && ebur128_loudness_global(st, &lufs) == EBUR128_SUCCESS;
    for (unsigned c = 0; ok && c < channels; ++c) {
        double channelPeak = 0;
        ok = ebur128_true_peak(st, c, &channelPeak) == EBUR128_SUCCESS;
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&st);
    if (!ok) return false;
    out.lufs = lufs;  // -HUGE_VAL when everything was below the absolute gate
    out.peakDb = peak > 0 ? 20 * std::log10(peak) : -200;
    return true;
}

int LevellingGain(const LoudnessFigures& f, double targetLufs) {
    // Silence (or nearly: below the gate) has no loudness to bring anywhere.
    if (!std::isfinite(f.lufs) || f.lufs < -70) return 0;
    double gain = std::min(targetLufs - f.lufs, 12.0);
    gain = std::min(gain, -f.peakDb);  // the peak stays at or below 0 dBTP
    gain = std::max(gain, -40.0);
    return static_cast<int>(std::lround(gain * 100));
}

Leveller::Leveller(LevellingOptions options, std::string cachePath)
    : cachePath_(std::move(cachePath)), options_(options) {}

Leveller::~Leveller() {
    std::lock_guard<std::mutex> hold(lock_);
    if (unsaved_) Save();
}

void Leveller::SetOptions(const LevellingOptions& options) {
    std::lock_guard<std::mutex> hold(lock_);
    options_ = options;
}

LevellingOptions Leveller::options() const {
    std::lock_guard<std::mutex> hold(lock_);
    return options_;
}

bool Leveller::KnownGain(const std::string& storedName, bool isMusic, int& gain) {
    const LevellingOptions options = this->options();
    gain = 0;
    if (!options.on) return true;  // off: not even the file is looked at
    long long size = 0, mtime = 0;
    if (!FileKey(storedName, size, mtime)) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (!loaded_) Load();
    const auto it = cache_.find(storedName);
    if (it == cache_.end() || it->second.size != size || it->second.mtime != mtime) return false;
    gain = LevellingGain(it->second.figures, isMusic ? options.musicLufs : options.voiceLufs);
    return true;
}

int Leveller::GainFor(const std::string& storedName, bool isMusic,
                      const std::atomic<bool>* keepGoing) {
    int gain = 0;
    if (KnownGain(storedName, isMusic, gain)) return gain;
    long long size = 0, mtime = 0;
    const bool keyed = FileKey(storedName, size, mtime);
    // Measured outside the lock: a long track does not hold up another reader.
    LoudnessFigures figures;
    if (!MeasureLoudness(storedName, figures, keepGoing)) return 0;
    ++measurements_;
    Log("status - loudness of %s: %.1f LUFS, true peak %.1f dBTP", storedName.c_str(), figures.lufs,
        figures.peakDb);
    if (keyed) {
        std::lock_guard<std::mutex> hold(lock_);
        cache_[storedName] = {size, mtime, figures};
        unsaved_ = true;
        // Many new sounds at once (a first run on a large library) are not each
        // followed by a rewrite of the whole cache.
        if (std::chrono::steady_clock::now() - lastSave_ >= kSaveEvery) Save();
    }
    const LevellingOptions options = this->options();
    return LevellingGain(figures, isMusic ? options.musicLufs : options.voiceLufs);
}

void Leveller::Load() {
    loaded_ = true;
    std::string text;
    if (!ReadWholeFile(cachePath_, text)) return;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kCacheHeader) {
        Log("error - %s is not a loudness cache; it is rebuilt", cachePath_.c_str());
        return;
    }
    // lufs peak size mtime name (the name last: it may hold spaces)
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Entry e;
        std::string lufs;
        if (!(fields >> lufs >> e.figures.peakDb >> e.size >> e.mtime)) continue;
        e.figures.lufs = lufs == "-inf" ? -INFINITY : std::strtod(lufs.c_str(), nullptr);
        std::string name;
        std::getline(fields >> std::ws, name);
        if (name.empty() || !Plausible(e.figures) || e.size < 0) continue;
        cache_[name] = e;
    }
}

bool Leveller::Save() {
    unsaved_ = false;
    lastSave_ = std::chrono::steady_clock::now();
    // Sounds that are gone are forgotten: the cache never grows past the library.
    for (auto it = cache_.begin(); it != cache_.end();) {
        long long size = 0, mtime = 0;
        it = FileKey(it->first, size, mtime) ? std::next(it) : cache_.erase(it);
    }
    std::ostringstream out;
    out << kCacheHeader << "\n";
    out.precision(4);
    for (const auto& [name, e] : cache_) {
        out << std::fixed;
        if (std::isinf(e.figures.lufs))
            out << "-inf";
        else
            out << e.figures.lufs;
        out << " " << e.figures.peakDb << " " << e.size << " " << e.mtime << " " << name << "\n";
    }
    return WriteFileAtomically(cachePath_, out.str());
}

bool ParseLufsTarget(const std::string& text, double& lufs) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v >= -40 && v <= -5)) return false;
    lufs = v;
    return true;
}

}  // namespace tw
