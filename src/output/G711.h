#pragma once

// G.711 u-law and A-law, the telephone network's 8-bit sample codes. The encoders
// follow the classic reference (u-law from the sample rounded to 14 bits, A-law
// to 13), so that what we send is code for code what sox
// makes of the same sample. Any thread.

#include <cstddef>
#include <cstdint>

namespace tw {

uint8_t LinearToUlaw(int16_t sample);
uint8_t LinearToAlaw(int16_t sample);
int16_t UlawToLinear(uint8_t code);
int16_t AlawToLinear(uint8_t code);

void EncodeUlaw(const int16_t* in, size_t count, uint8_t* out);
void EncodeAlaw(const int16_t* in, size_t count, uint8_t* out);

}  // namespace tw
