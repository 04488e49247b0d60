#pragma once

// The start-up choices, kept as 19 raw bytes in "settings.cfg": start with the
// desktop session, start playing at start, hide to the tray when minimized, and
// the 16-byte GUID of the output to play on (all zero: the default output).

#include <array>
#include <cstdint>
#include <string>

namespace tw {

struct AppSettings {
    uint8_t autoStart = 1;
    uint8_t startPlaying = 1;
    uint8_t trayIcon = 1;
    std::array<uint8_t, 16> device{};

    // Reads "settings.cfg"; a missing file is created with the defaults. Fields a
    // short file does not cover keep their defaults.
    void LoadSettings();
    // The fields from the bytes of a settings file, as LoadSettings reads them.
    void SetFromBytes(const std::string& bytes);
    // The 19 bytes SaveSettings writes.
    std::string Bytes() const;
    void ResetSettings();
    // Writes through a temporary file; false (logged) when that failed.
    bool SaveSettings(std::string* why = nullptr) const;
};

}  // namespace tw
