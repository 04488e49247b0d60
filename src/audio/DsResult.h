#pragma once

// Result codes of the sound device, with the values and names DirectSound gave them.

#include <cstdint>

namespace tw {

constexpr uint32_t DS_OK = 0x00000000;
constexpr uint32_t DSERR_OUTOFMEMORY = 0x8007000E;
constexpr uint32_t DSERR_INVALIDPARAM = 0x80070057;
constexpr uint32_t DSERR_ALLOCATED = 0x8878000A;
constexpr uint32_t DSERR_BADFORMAT = 0x88780064;
constexpr uint32_t DSERR_NODRIVER = 0x88780078;

// The symbolic name of a code, or "Unknown error message".
const char* DirectSoundErrorText(uint32_t code);

}  // namespace tw

#include "MessageBox.h"

namespace tw {
// Shows the code's name in a box captioned "DirectSound Error".
MbResult ShowDirectSoundError(MessageBox& boxes, uint32_t code);
}  // namespace tw
