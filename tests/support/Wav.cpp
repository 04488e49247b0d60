#include "Wav.h"

#include "TempFolder.h"

#include <cmath>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tw::test {
namespace {

void Put(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::vector<uint8_t> SineSamples(const WavSpec& spec, double hz, double amplitude, int frames) {
    std::vector<uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * hz * i / spec.rate);
        for (int c = 0; c < spec.channels; ++c) {
            if (spec.formatTag == 3) {
                float f = static_cast<float>(v);
                uint8_t b[4];
                std::memcpy(b, &f, 4);
                out.insert(out.end(), b, b + 4);
                continue;
            }
            switch (spec.bits) {
                case 8:
                    out.push_back(static_cast<uint8_t>(std::lround(128 + v * 127)));
                    break;
                case 16: {
                    int32_t s = static_cast<int32_t>(std::lround(v * 32767));
                    out.push_back(s & 0xFF);
                    out.push_back((s >> 8) & 0xFF);
                    break;
                }
                case 24: {
                    int32_t s = static_cast<int32_t>(std::lround(v * 8388607));
                    for (int k = 0; k < 3; ++k) out.push_back((s >> (8 * k)) & 0xFF);
                    break;
                }
                default: {
                    int64_t s = std::llround(v * 2147483647.0);
                    for (int k = 0; k < 4; ++k) out.push_back((s >> (8 * k)) & 0xFF);
                }
            }
        }
    }
    return out;
}

std::string MakeWav(const WavSpec& spec, const std::vector<uint8_t>& samples,
                    const std::string& extraChunks, int fmtExtra) {
    std::string fmt;
    Put(fmt, spec.formatTag, 2);
    Put(fmt, spec.channels, 2);
    Put(fmt, spec.rate, 4);
    const uint32_t align = spec.channels * spec.bits / 8;
    Put(fmt, spec.rate * align, 4);
    Put(fmt, align, 2);
    Put(fmt, spec.bits, 2);
    fmt.append(static_cast<size_t>(fmtExtra), '\0');
    std::string body = "WAVE";
    body += "fmt ";
    Put(body, static_cast<uint32_t>(fmt.size()), 4);
    body += fmt;
    body += extraChunks;
    body += "data";
    Put(body, static_cast<uint32_t>(samples.size()), 4);
    body.append(samples.begin(), samples.end());
    std::string out = "RIFF";
    Put(out, static_cast<uint32_t>(body.size()), 4);
    return out + body;
}

void WriteBinary(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void WriteTone(const std::string& path, double seconds, double hz, uint32_t rate, uint16_t channels,
               double amplitude) {
    WavSpec spec{1, channels, rate, 16};
    WriteBinary(path,
                MakeWav(spec, SineSamples(spec, hz, amplitude, static_cast<int>(seconds * rate))));
}

double Rms(const float* samples, size_t count, size_t stride) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < count; i += stride, ++n) sum += samples[i] * samples[i];
    return n ? std::sqrt(sum / n) : 0.0;
}

double Db(double ratio) {
    return 20 * std::log10(ratio);
}

double ToneMagnitude(const std::vector<float>& x, double rate, double hz) {
    // Goertzel on a Hann-windowed block.
    const size_t n = x.size();
    const double w = 2 * M_PI * hz / rate;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double win = 0.5 - 0.5 * std::cos(2 * M_PI * i / (n - 1));
        const double s = x[i] * win + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / n;
}

bool ReadWav16(const std::string& path, std::vector<float>& samples, int& channels, int& rate) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string d = ss.str();
    auto u16 = [&](size_t o) {
        return static_cast<uint8_t>(d[o]) | (static_cast<uint8_t>(d[o + 1]) << 8);
    };
    auto u32 = [&](size_t o) {
        return static_cast<uint32_t>(u16(o)) | (static_cast<uint32_t>(u16(o + 2)) << 16);
    };
    if (d.size() < 12 || d.compare(0, 4, "RIFF") != 0) return false;
    size_t pos = 12;
    bool fmt = false;
    while (pos + 8 <= d.size()) {
        const uint32_t size = u32(pos + 4);
        if (d.compare(pos, 4, "fmt ") == 0) {
            channels = u16(pos + 10);
            rate = static_cast<int>(u32(pos + 12));
            fmt = u16(pos + 22) == 16;
        } else if (d.compare(pos, 4, "data") == 0 && fmt) {
            size_t n = std::min<size_t>(size, d.size() - pos - 8) / 2;
            samples.resize(n);
            for (size_t i = 0; i < n; ++i)
                samples[i] = static_cast<int16_t>(u16(pos + 8 + 2 * i)) / 32768.0f;
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace tw::test

namespace tw::test {

void WriteSongAndMessage(int voiceGapSeconds) {
    std::filesystem::create_directories("sounds/Music Tracks/T");
    std::filesystem::create_directories("sounds/Voice Messages/V");
    WriteTone("sounds/Music Tracks/T/a.wav", 60, 440, 44100, 2, 0.5);
    WriteTone("sounds/Voice Messages/V/m.wav", 2, 1000, 8000, 1, 0.5);
    WriteText("audio.cfg",
              "[VOICE]\n" + std::to_string(voiceGapSeconds) +
                  "\n10\n0\n\n[MUSIC]\n1\n10\n0\n\n[MUSIC_LIST]\n"
                  "sounds\\Music Tracks\\T\\a.wav\nfalse 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n"
                  "[VOICE_LIST]\nsounds\\Voice Messages\\V\\m.wav\n"
                  "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n");
}

}  // namespace tw::test
