#pragma once

// Makes WAV files and measures rendered sound, for tests.

#include <cstdint>
#include <string>
#include <vector>

namespace tw::test {

struct WavSpec {
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
};

// Little-endian PCM or float samples of `frames` frames of a sine of `hz` at
// `amplitude` (0..1) on every channel.
std::vector<uint8_t> SineSamples(const WavSpec& spec, double hz, double amplitude, int frames);

// A canonical 44-byte-header WAV around `samples`; `extraChunks` go between the
// format chunk and the data chunk; `fmtExtra` bytes are added to the format chunk.
std::string MakeWav(const WavSpec& spec, const std::vector<uint8_t>& samples,
                    const std::string& extraChunks = "", int fmtExtra = 0);

void WriteBinary(const std::string& path, const std::string& bytes);

// A WAV file of a tone, written to `path`.
void WriteTone(const std::string& path, double seconds, double hz = 440.0, uint32_t rate = 44100,
               uint16_t channels = 1, double amplitude = 0.5);

// In the working folder: a 60 s 440 Hz song "T\a.wav" (44.1 kHz stereo) and a 2 s
// 1 kHz message "V\m.wav" (8 kHz mono), listed in "audio.cfg" with a music gap of
// 1 s and the voice gap given.
void WriteSongAndMessage(int voiceGapSeconds);

double Rms(const float* samples, size_t count, size_t stride = 1);
double Db(double ratio);
// Magnitude of frequency `hz` in `samples` (mono) at `rate`, Hann-windowed.
double ToneMagnitude(const std::vector<float>& samples, double rate, double hz);

// Reads a 16-bit PCM WAV file's samples as floats, interleaved.
bool ReadWav16(const std::string& path, std::vector<float>& samples, int& channels, int& rate);

}  // namespace tw::test
