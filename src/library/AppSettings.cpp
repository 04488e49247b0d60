#include "AppSettings.h"

#include "AtomicFile.h"

namespace tw {

constexpr const char* kSettingsFile = "settings.cfg";

void AppSettings::LoadSettings() {
    std::string bytes;
    if (!ReadWholeFile(kSettingsFile, bytes)) {
        ResetSettings();
        return;
    }
    SetFromBytes(bytes);
}

void AppSettings::SetFromBytes(const std::string& bytes) {
    *this = AppSettings{};
    auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    if (bytes.size() > 0) autoStart = byte(0);
    if (bytes.size() > 1) startPlaying = byte(1);
    if (bytes.size() > 2) trayIcon = byte(2);
    for (size_t i = 0; i < device.size() && 3 + i < bytes.size(); ++i) device[i] = byte(3 + i);
}

void AppSettings::ResetSettings() {
    *this = AppSettings{};
    SaveSettings();
}

bool AppSettings::SaveSettings(std::string* why) const {
    return WriteFileAtomically(kSettingsFile, Bytes(), why);
}

std::string AppSettings::Bytes() const {
    std::string bytes;
    bytes += static_cast<char>(autoStart);
    bytes += static_cast<char>(startPlaying);
    bytes += static_cast<char>(trayIcon);
    for (uint8_t b : device) bytes += static_cast<char>(b);
    return bytes;
}

}  // namespace tw
