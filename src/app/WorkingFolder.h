#pragma once

// Which folder the program works in. It stays in the folder it was started in
// when that holds "audio.cfg" or "default.cfg" (or --workdir names one); started
// from the desktop (--desktop), or where there is no configuration, it works in
// $XDG_DATA_HOME/tonewell, filled on first use from the installed data.

#include <string>

namespace tw {

// The installed data ("default.cfg", help, stylesheet, sounds): $TONEWELL_DATA_DIR
// when set, else where `cmake --install` put it.
std::string InstalledDataDir();

// Whether `folder` holds a configuration of the program.
bool HasConfiguration(const std::string& folder);

// Copies the installed data into `folder` (nothing already there is replaced).
bool FillFromInstalled(const std::string& folder, std::string& why);

// A folder with nothing of ours yet (no configuration, no sounds; a tonewell.conf
// written ahead is fine): a service's new state folder.
bool IsFreshFolder(const std::string& folder);

// Chooses and enters the desktop working folder, filling it from the installed
// data when it has no configuration yet. False (and `why`) when it cannot be
// used; the program then stays where it is.
bool EnterDesktopFolder(std::string& why);

}  // namespace tw
