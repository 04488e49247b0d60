#include "SoundFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QString>
#include <cerrno>
#include <cstring>

#include "ListsEditor.h"
#include "Log.h"
#include "OnHoldPlayer.h"
#include "Paths.h"
#include "SoundsFolder.h"

namespace tw {
namespace {

// One plain part of a path: valid UTF-8, no separator, no climbing, not hidden.
bool PlainPart(const std::string& name, size_t most, std::string& why) {
    const QString text = QString::fromUtf8(name);
    if (name.empty() || name.size() > most || text.toUtf8().toStdString() != name)
        why = "a name is 1 to " + std::to_string(most) + " bytes of UTF-8";
    else if (name.find_first_of("/\\") != std::string::npos || name[0] == '.' ||
             name.find("..") != std::string::npos)
        why = "a name has no \"/\", \"\\\" or \"..\" and does not start with \".\"";
    else if (HasControlCharacter(name))
        why = "a name has no control characters";
    return why.empty();
}

// The rows of the kind's list that play `stored`.
QJsonArray RowsOf(OnHoldPlayer& player, bool isMusic, const std::string& stored) {
    QJsonArray rows;
    const TrackList& list = isMusic ? player.config().music : player.config().voice;
    for (size_t i = 0; i < list.tracks.size(); ++i)
        if (list.tracks[i].name == stored) rows.append(static_cast<int>(i));
    return rows;
}

// 200 when the lists no longer hold `stored` (taken out if the admin agreed),
// else the answer to give.
Answer TakeOut(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& stored,
               bool takeOut) {
    player.ReloadIfChanged("an edit on disk");
    const QJsonArray rows = RowsOf(player, isMusic, stored);
    if (rows.isEmpty()) return {};
    if (!takeOut)
        return Error(409, ShownTrackName(stored, isMusic) + " is in the list; it is taken out of the "
                                                            "list first if you agree");
    Answer removed = Edit(player, now, isMusic, "remove", QJsonObject{{"rows", rows}});
    return removed.status == 200 ? Answer{} : removed;
}

}  // namespace

bool GoodFileName(const std::string& name, std::string& why) {
    if (!PlainPart(name, 255, why)) return false;
    const std::string lower = AsciiLower(name);
    if (!(lower.ends_with(".wav") || lower.ends_with(".mp3"))) why = "only .wav and .mp3 files are taken";
    return why.empty();
}

bool GoodCategoryName(const std::string& name, std::string& why) {
    return PlainPart(name, 64, why);
}

Answer KnownCategory(bool isMusic, const std::string& category) {
    for (const std::string& c : ListCategories(isMusic))
        if (c == category) {
            // A category that is a link out of "sounds" takes nothing.
            if (!StaysInSoundsFolder(StoredTrackName(isMusic, c, "")))
                return Error(403, "the category " + category + " leads out of sounds/");
            return {};
        }
    return Error(404, "no category " + category);
}

Answer PlaceOf(bool isMusic, const std::string& category, const std::string& file, std::string& stored) {
    std::string why;
    if (!GoodFileName(file, why)) return Error(400, why);
    stored = StoredTrackName(isMusic, category, file);
    if (Answer known = KnownCategory(isMusic, category); known.status != 200) return known;
    if (!StaysInSoundsFolder(stored)) return Error(403, "that file leads out of sounds/");
    return {};
}

Answer MakeCategory(bool isMusic, const std::string& name) {
    std::string why;
    if (!GoodCategoryName(name, why)) return Error(400, why);
    const std::string stored = StoredTrackName(isMusic, name, "");
    if (!StaysInSoundsFolder(StoredTrackName(isMusic, "", "")))
        return Error(403, "the folder of that kind leads out of sounds/");
    if (::mkdir(NativePath(stored).c_str(), 0755) != 0)
        return errno == EEXIST ? Error(409, "there is a category " + name + " already")
                               : Error(500, "cannot make it: " + std::string(std::strerror(errno)));
    Log("status - web console: made the category %s", stored.c_str());
    return {201, QJsonObject{{"category", QString::fromStdString(name)}}};
}

Answer DeleteSound(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& category,
                   const std::string& file, bool takeOut) {
    std::string stored;
    if (Answer place = PlaceOf(isMusic, category, file, stored); place.status != 200) return place;
    if (Answer out = TakeOut(player, now, isMusic, stored, takeOut); out.status != 200) return out;
    if (::unlink(NativePath(stored).c_str()) != 0)
        return errno == ENOENT ? Error(404, "no such file: " + stored)
                               : Error(500, "cannot delete it: " + std::string(std::strerror(errno)));
    Log("status - web console: deleted %s", stored.c_str());
    return {200, {}, ViewLists(player, now)};
}

Answer RenameSound(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& category,
                   const std::string& file, const std::string& to, bool takeOut) {
    std::string why;
    if (!GoodFileName(file, why) || !GoodFileName(to, why)) return Error(400, why);
    if (AsciiLower(file).substr(file.size() - 4) != AsciiLower(to).substr(to.size() - 4))
        return Error(400, "a renamed file keeps its type (" + file.substr(file.size() - 4) + ")");
    std::string stored;
    if (Answer place = PlaceOf(isMusic, category, file, stored); place.status != 200) return place;
    const std::string renamed = StoredTrackName(isMusic, category, to);
    if (renamed.size() > 255) return Error(400, "the stored name is too long");
    if (Answer out = TakeOut(player, now, isMusic, stored, takeOut); out.status != 200) return out;
    // Never over a file of that name: a link, then the old name goes.
    if (::link(NativePath(stored).c_str(), NativePath(renamed).c_str()) != 0)
        return errno == EEXIST   ? Error(409, "a file of that name is there")
               : errno == ENOENT ? Error(404, "no such file: " + stored)
                                 : Error(500, "cannot rename it: " + std::string(std::strerror(errno)));
    ::unlink(NativePath(stored).c_str());
    Log("status - web console: renamed %s to %s", stored.c_str(), renamed.c_str());
    return {200, QJsonObject{{"name", QString::fromStdString(renamed)}}, ViewLists(player, now)};
}

}  // namespace tw
