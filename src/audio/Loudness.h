#pragma once

// Loudness levelling: each sound's integrated loudness (EBU R128) and true peak,
// measured once on its decoded samples with libebur128 and kept in
// "loudness.cache", keyed by stored name, file size and modification time; and the
// gain that brings a sound to a target loudness, never past 0 dBFS true peak and
// never more than +12 dB.
//
// Threads: Leveller may be asked from the preload worker and the main thread at
// once; it holds a lock around its cache. Measuring runs on the caller's thread
// (never the audio thread).

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "LoadSound.h"

namespace tw {

constexpr const char* kLoudnessCache = "loudness.cache";

struct LoudnessFigures {
    double lufs = 0;    // integrated loudness; -inf for silence
    double peakDb = 0;  // true peak, dBTP
};

// Measures a sound file (a stored name) in one pass, a block at a time; false when
// its samples cannot be measured.
// `keepGoing`, when given, is looked at before each block: once false, the measure
// gives up.
bool MeasureLoudness(const std::string& storedName, LoudnessFigures& out,
                     const std::atomic<bool>* keepGoing = nullptr);

// The gain in hundredths of a dB that brings `figures` to `targetLufs`: at most
// +12 dB, at most what keeps the true peak at 0 dBFS, none for silence.
int LevellingGain(const LoudnessFigures& figures, double targetLufs);

// A target loudness as tonewell.conf gives it: a number from -40 to -5 (LUFS).
// False, `lufs` untouched, for anything else.
bool ParseLufsTarget(const std::string& text, double& lufs);

struct LevellingOptions {
    bool on = false;
    double musicLufs = -20;
    double voiceLufs = -16;
};

class Leveller {
  public:
    explicit Leveller(LevellingOptions options, std::string cachePath = kLoudnessCache);
    ~Leveller();  // saves what was measured since the last save
    void SetOptions(const LevellingOptions& options);
    LevellingOptions options() const;
    // The gain for the sound `storedName` when it is known without measuring: from
    // the cache, when it knows the file as it is now, or 0 when levelling is off.
    bool KnownGain(const std::string& storedName, bool isMusic, int& gain);
    // The gain, measured now (a pass over the whole file) unless it is known. New
    // figures are saved at most once every 5 seconds (and at the end), without the
    // entries of files that are gone.
    int GainFor(const std::string& storedName, bool isMusic,
                const std::atomic<bool>* keepGoing = nullptr);
    // How many sounds were measured (not found in the cache) so far.
    int measurements() const { return measurements_; }

  private:
    void Load();
    bool Save();  // with the lock held

    static constexpr std::chrono::seconds kSaveEvery{5};

    const std::string cachePath_;
    mutable std::mutex lock_;
    LevellingOptions options_;
    bool loaded_ = false;
    struct Entry {
        long long size = 0;
        long long mtime = 0;
        LoudnessFigures figures;
    };
    std::map<std::string, Entry> cache_;
    bool unsaved_ = false;
    std::chrono::steady_clock::time_point lastSave_{};
    std::atomic<int> measurements_{0};
};

}  // namespace tw
