#pragma once

// A sound file from anywhere (a USB stick, the Downloads folder) brought into
// "sounds/<kind>/<category>/" under its own name: copied beside its place under a
// hidden name, checked by the loader, then linked into place. A file that is not
// a sound never appears in the category, and nothing there is ever replaced. Any
// thread but the audio thread; it reads the whole file.

#include <string>

#include "LoadSound.h"

namespace tw {

enum class Imported {
    Ok,
    NotASound,  // the loader refused it: `why` is its message
    Exists,     // a file of that name is in the category already
    Failed,     // it could not be copied: `why` says why
};

Imported ImportSound(const std::string& from, bool isMusic, const std::string& category,
                     std::string& stored, std::string& why);

// The two steps of an import, for files that arrive another way (an upload).
// Whether the loader takes the file stored as `storedName`; when not, `why` is
// its message, with the file called `shownName`, the name the user knows. `load`
// is how the player reads it (an MP3 decoded at the output's rate).
bool LoadsAsSound(const std::string& storedName, const std::string& shownName, std::string& why,
                  LoadOptions load = {});
// The checked file stored as `tempStored` linked in as `stored`: Ok, Exists (a
// file of that name is there and stays) or Failed. The caller removes the
// temporary file either way.
Imported LinkIntoPlace(const std::string& tempStored, const std::string& stored, std::string& why);

}  // namespace tw
