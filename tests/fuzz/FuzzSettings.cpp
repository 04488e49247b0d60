// Feeds arbitrary bytes to the "settings.cfg" reader: what it reads must save as
// 19 bytes that read back to the same settings.
#include <cstdlib>
#include <string>

#include "AppSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tw::AppSettings settings;
    settings.SetFromBytes(std::string(reinterpret_cast<const char*>(data), size));
    const std::string bytes = settings.Bytes();
    if (bytes.size() != 19) std::abort();
    if (size >= 19 && bytes != std::string(reinterpret_cast<const char*>(data), 19)) std::abort();
    tw::AppSettings again;
    again.SetFromBytes(bytes);
    if (again.Bytes() != bytes) std::abort();
    return 0;
}
