#pragma once

// The start-up choices, kept as 19 raw bytes in "settings.cfg": start with the
// desktop session, start playing at start, hide to the tray when minimized, and
// the 16-byte GUID of the output to play on (all zero: the default output).

#include <array>
#include <cstdint>

namespace tw {

struct AppSettings {
    uint8_t autoStart = 1;
    uint8_t startPlaying = 1;
    uint8_t trayIcon = 1;
    std::array<uint8_t, 16> device{};

    // Reads "settings.cfg"; a missing file is created with the defaults. Fields a
    // short file does not cover keep their defaults.
    void LoadSettings();
    void ResetSettings();
    // Writes through a temporary file; false (logged) when that failed.
    bool SaveSettings() const;
};

}  // namespace tw
