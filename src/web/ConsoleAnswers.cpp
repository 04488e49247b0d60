#include "ConsoleAnswers.h"

#include <sodium.h>

#include <QJsonArray>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "AtomicFile.h"
#include "ListsEditor.h"
#include "Log.h"
#include "OnHoldPlayer.h"
#include "Paths.h"
#include "SoundBuffer.h"
#include "SoundSource.h"
#include "SoundsFolder.h"
#include "TonewellConf.h"

namespace tw {

Answer Error(int status, const std::string& text) {
    return {status, QJsonObject{{"error", QString::fromStdString(text)}}};
}

namespace {

QString DateText(const DateOrTime& d) {
    return QString::asprintf("%04d-%02d-%02d", d.First(), d.Second(), d.Third());
}
QString TimeText(const DateOrTime& t) {
    return QString::asprintf("%02d:%02d:%02d", t.First(), t.Second(), t.Third());
}

// "2027-02-31" or "09:00[:00]" into three numbers, not yet checked for sense.
bool ReadTriple(const QJsonValue& v, bool isDate, DateOrTime& out) {
    const QStringList parts = v.toString().split(isDate ? '-' : ':');
    if (parts.size() < (isDate ? 3 : 2) || parts.size() > 3) return false;
    int n[3] = {0, 0, 0};
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        n[i] = parts[i].toInt(&ok);
        if (!ok) return false;
    }
    out.Set(n[0], n[1], n[2]);
    return true;
}

// A short, stable name for the version of "audio.cfg" a page edits.
std::string VersionOf(const std::string& text) {
    unsigned char hash[16];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(text.data()),
                       text.size(), nullptr, 0);
    char hex[2 * sizeof hash + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

}  // namespace

std::shared_ptr<const ListsView> ViewLists(OnHoldPlayer& player, const LocalTime& now) {
    player.ReloadIfChanged("an edit on disk");
    auto view = std::make_shared<ListsView>(player.config());
    view->failed = player.failedTracks();
    view->problem = player.listsProblem();
    view->now = now;
    return view;
}

namespace {

// How long each listed file plays, in whole seconds, read from its headers (an
// MP3's frames are scanned, never its claims) once per version of the file and
// kept. A request spends at most a moment on files not seen before; the others
// are known by a later one. Any thread.
class TrackLengths {
  public:
    // -1 while not known.
    int Seconds(const std::string& stored, std::chrono::steady_clock::time_point deadline) {
        const FileStamp stamp = StampOf(NativePath(stored));
        if (stamp == FileStamp{}) return -1;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (const auto it = known_.find(stored); it != known_.end() && it->second.first == stamp)
                return it->second.second;
        }
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::unique_ptr<SoundSource> source;
        uint64_t bytes = 0, offset = 0;
        const bool mp3 = AsciiLower(stored).ends_with(".mp3");
        const SourceResult opened = mp3 ? OpenMp3Source(NativePath(stored), source)
                                        : OpenWavSource(NativePath(stored), source, bytes, offset);
        const int seconds = opened == SourceResult::Ok && source->format().samplesPerSec > 0
                                ? static_cast<int>(source->frames() / source->format().samplesPerSec)
                                : -1;
        std::lock_guard<std::mutex> hold(lock_);
        if (known_.size() > 50000) known_.clear();  // a bound, not a record
        known_[stored] = {stamp, seconds};
        return seconds;
    }

  private:
    std::mutex lock_;
    std::map<std::string, std::pair<FileStamp, int>> known_;
};

TrackLengths g_lengths;

}  // namespace

QJsonObject ListsJson(const ListsView& view) {
    const ListsEditor& editor = view.editor;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    QJsonObject out;
    for (bool isMusic : {true, false}) {
        const TrackList& list = isMusic ? editor.config().music : editor.config().voice;
        QJsonArray tracks;
        for (const Track& t : list.tracks) {
            const TrackSchedule& s = t.schedule;
            const auto failed = view.failed.find(t.name);
            tracks.append(QJsonObject{
                {"name", QString::fromStdString(t.name)},
                {"shown", QString::fromStdString(ShownTrackName(t.name, isMusic))},
                {"in_schedule", t.inSchedule},
                {"seconds", [&] {
                     const int s = g_lengths.Seconds(t.name, deadline);
                     return s >= 0 ? QJsonValue(s) : QJsonValue(QJsonValue::Null);
                 }()},
                {"failed", QString::fromStdString(failed != view.failed.end() ? failed->second
                                                                              : std::string())},
                {"date", QJsonObject{{"on", s.dateRangeOn},
                                     {"from", DateText(s.dateFrom)},
                                     {"to", DateText(s.dateTo)}}},
                {"time", QJsonObject{{"on", s.timeRangeOn},
                                     {"from", TimeText(s.timeFrom)},
                                     {"to", TimeText(s.timeTo)}}},
            });
        }
        out[isMusic ? "music" : "voice"] = tracks;
        out[isMusic ? "music_settings" : "voice_settings"] = QJsonObject{
            {"gap", list.gapSeconds},
            {"volume", list.volume},
            {"random", list.random != 0},
            {"coverage", QString::fromStdString(editor.CoverageText(isMusic, view.now))},
        };
    }
    out["version"] = QString::fromStdString(VersionOf(editor.baseVersion()));
    // A file on disk that does not read whole: what plays is shown, and why.
    if (!view.problem.empty()) out["file_problem"] = QString::fromStdString(view.problem);
    return out;
}

namespace {

// An edit as the admin's record says it: what changed.
std::string EditSaid(bool isMusic, const std::string& action, const QJsonObject& body) {
    const std::string list = isMusic ? "the music list" : "the voice list";
    const auto count = [](qsizetype n) {
        return std::to_string(n) + (n == 1 ? " track" : " tracks");
    };
    if (action == "add") {
        const QJsonArray names = body["names"].toArray();
        std::string said = "added " + count(names.size()) + " to " + list + ":";
        for (qsizetype i = 0; i < names.size() && i < 3; ++i)
            said += (i ? ", " : " ") + ShownTrackName(names[i].toString().toStdString(), isMusic);
        if (names.size() > 3) said += " and " + std::to_string(names.size() - 3) + " more";
        return said;
    }
    if (action == "remove") return "deleted " + count(body["rows"].toArray().size()) + " from " + list;
    if (action == "move")
        return "moved row " + std::to_string(body["row"].toInt() + 1) +
               (body["step"].toInt() < 0 ? " up" : " down") + " in " + list;
    if (action == "clear") return "cleared " + list;
    if (action == "settings") {
        std::string said = list + ":";
        if (body.contains("gap")) said += " gap " + std::to_string(body["gap"].toInt()) + " s";
        if (body.contains("volume")) said += " volume " + std::to_string(body["volume"].toInt());
        if (body.contains("random")) said += body["random"].toBool() ? " order random" : " order in order";
        return said;
    }
    const QJsonObject date = body["date"].toObject(), time = body["time"].toObject();
    std::string said = "scheduled " + count(body["rows"].toArray().size()) + " of " + list + ":";
    said += date["on"].toBool() ? " dates " + date["from"].toString().toStdString() + " to " +
                                      date["to"].toString().toStdString()
                                : " every day";
    said += time["on"].toBool() ? ", " + time["from"].toString().toStdString() + " to " +
                                      time["to"].toString().toStdString()
                                : ", all day";
    return said;
}

}  // namespace

// One edit of a list, on the main thread: applied to "audio.cfg" as it is on disk
// (a hand edit is taken first), refused over a newer version, saved, and taken by
// the player without a new cycle: what plays goes on.
Answer Edit(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& action,
            const QJsonObject& body, bool namesChecked) {
    player.ReloadIfChanged("an edit on disk");
    if (!player.listsProblem().empty())
        return Error(409, player.listsProblem() + "; mend the file, then reload");
    ListsEditor editor(player.config());
    if (body.contains("version") &&
        body["version"].toString().toStdString() != VersionOf(editor.baseVersion()))
        return Error(409, kListsChangedElsewhere);
    std::vector<int> rows;
    for (const QJsonValue& v : body["rows"].toArray()) rows.push_back(v.toInt(-1));
    std::string why;
    bool ok = true;
    if (action == "add") {
        const QJsonArray given = body["names"].toArray();
        if (static_cast<size_t>(given.size()) > kMaxListTracks)
            return Error(413, "a list holds at most " + std::to_string(kMaxListTracks) + " tracks");
        std::vector<std::string> names;
        for (const QJsonValue& v : given) names.push_back(v.toString().toStdString());
        ok = !names.empty() && editor.Add(isMusic, names, why, namesChecked);
        if (names.empty()) why = "no names given";
    } else if (action == "remove") {
        editor.Remove(isMusic, rows);
    } else if (action == "move") {
        ok = editor.Move(isMusic, body["row"].toInt(-1), body["step"].toInt(0));
        why = "that track cannot move there (was it deleted elsewhere?)";
    } else if (action == "clear") {
        editor.Clear(isMusic);
    } else if (action == "settings") {
        if (body.contains("gap") && !editor.SetGap(isMusic, body["gap"].toInt(-1)))
            ok = false, why = "that gap is not one of the choices";
        if (body.contains("volume") && !editor.SetVolume(isMusic, body["volume"].toInt(-1)))
            ok = false, why = "a volume is 0 to 10";
        if (body.contains("random") && !editor.SetOrder(isMusic, body["random"].toBool() ? 1 : 0))
            ok = false;
    } else if (action == "schedule") {
        TrackSchedule s;
        const QJsonObject date = body["date"].toObject(), time = body["time"].toObject();
        s.dateRangeOn = date["on"].toBool();
        s.timeRangeOn = time["on"].toBool();
        if ((s.dateRangeOn && (!ReadTriple(date["from"], true, s.dateFrom) ||
                               !ReadTriple(date["to"], true, s.dateTo))) ||
            (s.timeRangeOn && (!ReadTriple(time["from"], false, s.timeFrom) ||
                               !ReadTriple(time["to"], false, s.timeTo))))
            return Error(400, "dates are YYYY-MM-DD and times HH:MM");
        ok = editor.ApplySchedule(isMusic, rows, s, why);
    } else {
        return Error(404, "no such edit: " + action);
    }
    if (!ok) return Error(400, why);
    switch (editor.Save(why)) {
        case ListsEditor::Saved::Conflict:
            return Error(409, why);
        case ListsEditor::Saved::Failed:
            return Error(500, "Unable to save audio.cfg: " + why);
        case ListsEditor::Saved::Ok:
            break;
    }
    Log("status - web console: %s", EditSaid(isMusic, action, body).c_str());
    player.AdoptConfiguration(editor.config());
    return {200, {}, ViewLists(player, now)};
}


Answer StatusAnswer(OnHoldPlayer& p, int64_t uptimeSeconds) {
    const bool sounding = p.music().current.stream || p.voice().current.stream;
    auto name = [](const SoundSlot& slot, bool isMusic) {
        return slot.stream ? QJsonValue(QString::fromStdString(ShownTrackName(slot.path, isMusic)))
                             : QJsonValue(QJsonValue::Null);
    };
    // How far a sound has played and how long it is, in seconds.
    auto seconds = [](const SoundSlot& slot, bool played) {
        if (!slot.buffer) return QJsonValue(QJsonValue::Null);
        const WaveFormat& f = slot.buffer->format();
        const double perSecond = static_cast<double>(f.samplesPerSec) * f.blockAlign();
        if (perSecond <= 0) return QJsonValue(QJsonValue::Null);
        return QJsonValue(std::round((played ? slot.buffer->Position() : slot.byteLength) / perSecond));
    };
    const int64_t next = p.NextMessageInSeconds();
    QJsonArray failed;
    for (const auto& [path, why] : p.failedTracks())
        failed.append(QJsonObject{{"name", QString::fromStdString(path)},
                                  {"why", QString::fromStdString(why)}});
    QJsonArray outputs;
    for (const auto& [kind, state] : p.OutputStates())
        outputs.append(QJsonObject{{"name", QString::fromStdString(kind)},
                                   {"state", QString::fromStdString(state)}});
    // Calls held by a media server output; null without one.
    const PcmSink::CallCounts calls = p.Calls();
    const QJsonValue callsNow = calls.now >= 0 ? QJsonValue(calls.now) : QJsonValue(QJsonValue::Null);
    const QJsonValue callsMost = calls.now >= 0 ? QJsonValue(calls.mostToday) : QJsonValue(QJsonValue::Null);
    return Answer{200, QJsonObject{
        {"calls_on_hold", callsNow},
        {"most_calls_today", callsMost},
        {"state", !p.isPlaying() ? "paused" : sounding ? "playing" : "silent"},
        {"music", name(p.music().current, true)},
        {"voice", name(p.voice().current, false)},
        {"music_played", seconds(p.music().current, true)},
        {"music_length", seconds(p.music().current, false)},
        {"voice_played", seconds(p.voice().current, true)},
        {"voice_length", seconds(p.voice().current, false)},
        {"next_message_in", next >= 0 ? QJsonValue(static_cast<qint64>(next))
                                      : QJsonValue(QJsonValue::Null)},
        {"status", QString::fromStdString(p.StatusText())},
        {"output", QString::fromStdString(p.OutputState())},
        {"outputs", outputs},
        {"music_level", p.ChannelLevel(true, 0) / 100.0},
        {"voice_level", p.ChannelLevel(false, 0) / 100.0},
        {"uptime", static_cast<qint64>(uptimeSeconds)},
        {"failed", failed},
    }};
}

Answer SettingsAnswer(OnHoldPlayer& p, const std::string& web, bool https) {
    const LevellingOptions levelling = p.leveller().options();
    const AppSettings& a = p.settings();
    return Answer{200, QJsonObject{
        {"output", QString::fromStdString(p.OutputState())},
        {"start_automatically", a.autoStart != 0},
        {"start_playing", a.startPlaying != 0},
        {"tray_icon", a.trayIcon != 0},
        {"loudness", levelling.on},
        {"loudness_music", levelling.musicLufs},
        {"loudness_voice", levelling.voiceLufs},
        {"web", QString::fromStdString(web)},
        {"https", https},
    }};
}

Answer ChangeSettings(OnHoldPlayer& p, const QJsonObject& body) {
    std::string why;
    if (body.contains("start_playing")) {
        p.settings().startPlaying = body["start_playing"].toBool() ? 1 : 0;
        if (!p.settings().SaveSettings(&why))
            return Error(500, "Unable to save settings.cfg: " + why);
    }
    if (body.contains("loudness")) {
        if (!SetTonewellConfValue("loudness", body["loudness"].toBool() ? "on" : "off", &why))
            return Error(500, "Unable to save tonewell.conf: " + why);
        p.ReadLevellingSettings();
    }
    Log("status - web console: settings changed");
    return Answer{200, QJsonObject{{"saved", true}}};
}

Answer SoundsAnswer() {
    QJsonObject out;
    for (bool isMusic : {true, false}) {
        QJsonObject kind;
        for (const std::string& c : ListCategories(isMusic)) {
            // Nothing that a link leads out of "sounds" is shown to the console.
            if (!StaysInSoundsFolder(StoredTrackName(isMusic, c, ""))) continue;
            QJsonArray files;
            for (const std::string& f : ListTracks(isMusic, c))
                if (const std::string stored = StoredTrackName(isMusic, c, f); StaysInSoundsFolder(stored))
                    files.append(QJsonObject{{"file", QString::fromStdString(f)},
                                             {"name", QString::fromStdString(stored)}});
            kind[QString::fromStdString(c)] = files;
        }
        out[isMusic ? "music" : "voice"] = kind;
    }
    return Answer{200, out};
}

}  // namespace tw
