#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tw {

// 16 bytes in the memory layout of a Windows GUID (32-bit, 16-bit and 16-bit
// little-endian fields, then 8 bytes). All zero stands for the default output.
using Guid = std::array<uint8_t, 16>;

// A name-based (version 5) UUID of an output's name: stable across runs.
Guid GuidForName(const std::string& name);
bool IsNullGuid(const Guid& guid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
std::string GuidText(const Guid& guid);

}  // namespace tw
