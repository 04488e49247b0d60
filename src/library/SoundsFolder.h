#pragma once

// The "sounds" tree as the program browses it: a kind folder ("Voice Messages",
// "Music Tracks") holds category folders, which hold the tracks. Entries whose
// names begin with "." are left out. Main thread.

#include <string>
#include <vector>

namespace tw {

// "Music Tracks" or "Voice Messages".
const char* KindFolderName(bool isMusic);

// The category folders of a kind, in byte order with "Custom" (exactly so) last.
// A missing or unreadable kind folder has none; an entry that is not a folder
// (or a link to none) is not a category.
std::vector<std::string> ListCategories(bool isMusic);

// Every entry of a category folder (files, folders, links and anything else
// alike), sorted ignoring the case of ASCII letters, then byte order.
std::vector<std::string> ListTracks(bool isMusic, const std::string& category);

// The index of the first category holding at least one track; 0 when none does,
// -1 when there are no categories.
int InitialCategory(bool isMusic, const std::vector<std::string>& categories);

// "sounds\<kind>\<category>\<file>", the stored form whatever the platform.
std::string StoredTrackName(bool isMusic, const std::string& category, const std::string& file);

// Whether a stored name (a track, or a category: `StoredTrackName(isMusic, c, "")`)
// really lies inside "sounds" once every link is followed.
bool StaysInSoundsFolder(const std::string& storedName);

}  // namespace tw
