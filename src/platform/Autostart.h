#pragma once

// Starting with the desktop session: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/tonewell.desktop (by default under ~/.config), that
// runs the program's automatic start in its working folder.

#include <string>

namespace tw {

std::string AutostartEntryPath();

// Writes the entry (`on`) running `program -automation --workdir <folder>`, or
// removes it. False, with the reason in `why`, when that could not be done.
bool SetAutostart(bool on, const std::string& program, const std::string& folder, std::string& why);

// An argument as the Exec key of a desktop entry wants it: quoted, with ", `, $
// and \ escaped.
std::string DesktopExecArgument(const std::string& argument);

}  // namespace tw
