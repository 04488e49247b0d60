#pragma once

// Saving a recording as a voice message in "sounds\Voice Messages\Custom", for
// the recorder dialog and the web console alike. Main thread.

#include <string>

namespace tw {

extern const char* const kCustomFolder;  // "sounds\Voice Messages\Custom"

// Letters and digits of ASCII and spaces, with at least one letter or digit.
bool IsValidMessageName(const std::string& name);

enum class MessageSaved { Ok, BadName, Exists, Failed };

// Copies the WAV file `source` to "Custom\<name>.wav" (the folder made when
// missing), whole or not at all; `stored` receives the stored name, `why` the
// system's reason for a failure.
MessageSaved SaveVoiceMessage(const std::string& source, const std::string& name,
                              std::string& stored, std::string& why);

}  // namespace tw
