#pragma once

// The files of the sounds folder, looked after from the console: a new category,
// a file deleted or renamed (a file in a list is taken out of it first, once the
// admin agreed), and what names may be given. Main thread, but for the name
// checks.

#include <string>

#include "Clock.h"
#include "ConsoleAnswers.h"

namespace tw {

class OnHoldPlayer;

// A file name in a category: one plain part, valid UTF-8, a WAV or MP3, no
// control character, short enough to be stored. False with the reason.
bool GoodFileName(const std::string& name, std::string& why);
// A category's name: one plain part, valid UTF-8, no control character, 1 to 64
// bytes. False with the reason.
bool GoodCategoryName(const std::string& name, std::string& why);

// 200 when `category` is one of the kind's categories inside "sounds", else the
// answer to give.
Answer KnownCategory(bool isMusic, const std::string& category);

// Where `file` of `category` is stored, when it may be: a good name in a known
// category, inside "sounds". 200, else the answer to give; `stored` is set for
// any good name.
Answer PlaceOf(bool isMusic, const std::string& category, const std::string& file, std::string& stored);

Answer MakeCategory(bool isMusic, const std::string& name);
// `file` in `category`; `takeOut`: the admin agreed that the lists lose it.
Answer DeleteSound(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& category,
                   const std::string& file, bool takeOut);
// To `to` in the same category, of the same type (.wav stays .wav).
Answer RenameSound(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& category,
                   const std::string& file, const std::string& to, bool takeOut);

}  // namespace tw
