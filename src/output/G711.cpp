#include "G711.h"

#include <algorithm>
#include <array>

namespace tw {
namespace {

// The last magnitude of each of the eight segments.
constexpr int kUlawSegmentEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
constexpr int kAlawSegmentEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};

constexpr int Segment(int magnitude, const int (&ends)[8]) {
    for (int i = 0; i < 8; ++i)
        if (magnitude <= ends[i]) return i;
    return 8;
}

constexpr int16_t DecodeUlaw(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    int t = ((code & 0x0F) << 3) + 0x84;
    t <<= (code & 0x70) >> 4;
    return static_cast<int16_t>((code & 0x80) ? 0x84 - t : t - 0x84);
}

constexpr int16_t DecodeAlaw(uint8_t code) {
    code ^= 0x55;
    int t = (code & 0x0F) << 4;
    const int segment = (code & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return static_cast<int16_t>((code & 0x80) ? t : -t);
}

template <int16_t (*Decode)(uint8_t)>
constexpr std::array<int16_t, 256> Table() {
    std::array<int16_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = Decode(static_cast<uint8_t>(i));
    return table;
}

constexpr auto kUlawTable = Table<DecodeUlaw>();
constexpr auto kAlawTable = Table<DecodeAlaw>();

}  // namespace

uint8_t LinearToUlaw(int16_t sample) {
    int value = std::min((sample + 2) >> 2, 8191);  // rounded to 14 bits
    int mask = 0xFF;
    if (value < 0) {
        value = -value;
        mask = 0x7F;
    }
    if (value > 8159) value = 8159;  // the largest magnitude u-law holds, less the bias
    value += 0x84 >> 2;
    const int segment = Segment(value, kUlawSegmentEnds);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    return static_cast<uint8_t>(((segment << 4) | ((value >> (segment + 1)) & 0x0F)) ^ mask);
}

uint8_t LinearToAlaw(int16_t sample) {
    int value = std::min((sample + 4) >> 3, 4095);  // rounded to 13 bits
    int mask = 0xD5;
    if (value < 0) {
        mask = 0x55;
        value = -value - 1;
    }
    const int segment = Segment(value, kAlawSegmentEnds);
    if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    const int quantized = segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
    return static_cast<uint8_t>(((segment << 4) | quantized) ^ mask);
}

int16_t UlawToLinear(uint8_t code) {
    return kUlawTable[code];
}

int16_t AlawToLinear(uint8_t code) {
    return kAlawTable[code];
}

void EncodeUlaw(const int16_t* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) out[i] = LinearToUlaw(in[i]);
}

void EncodeAlaw(const int16_t* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) out[i] = LinearToAlaw(in[i]);
}

}  // namespace tw
