#include "AudioConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "AtomicFile.h"
#include "ConfigTextReader.h"
#include "Log.h"
#include "XmlTransform.h"

namespace tw {
namespace {

constexpr const char* kConfigFile = "audio.cfg";
constexpr const char* kDefaultFile = "default.cfg";
constexpr const char* kPlaylistFile = "playlist.xml";

void ReadSetting(ConfigTextReader& reader, int& value) {
    const std::string line = reader.ReadLine();
    int v;
    if (std::sscanf(line.c_str(), "%d", &v) == 1) value = v;
    reader.NextLine();
}

std::string Format(const char* format, int a, int b, int c) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

std::string PrintDate(const DateOrTime& d) {
    return Format("%d %d %d", d.First(), d.Second(), d.Third());
}

void ExportList(const TrackList& list, size_t prefixLength, const Clock& clock, std::string& out) {
    for (const Track& t : list.tracks) {
        if (!t.schedule.IsActiveNow(clock)) continue;
        const std::string rest = t.name.size() > prefixLength ? t.name.substr(prefixLength) : "";
        const size_t slash = rest.find('\\');
        const std::string category = slash == std::string::npos ? rest : rest.substr(0, slash);
        const std::string file = slash == std::string::npos ? "" : rest.substr(slash + 1);
        out += "<track><cat>" + XmlEscape(category) + "</cat><name>" + XmlEscape(file) +
               "</name></track>\n";
    }
}

}  // namespace

AudioConfig::AudioConfig(const Clock& clock, MessageBox& boxes)
    : music(clock), voice(clock), clock_(clock), boxes_(boxes) {
    // Until a file says otherwise, the gaps of the first selection.
    voice.gapSeconds = 30;
    music.gapSeconds = 2;
}

AudioConfig::AudioConfig(const AudioConfig& other)
    : firstRun(other.firstRun),
      loaded(other.loaded),
      loadedText(other.loadedText),
      music(other.music),
      voice(other.voice),
      clock_(other.clock_),
      boxes_(other.boxes_) {
    for (TrackList* l : {&music, &voice}) {
        l->order.clear();
        l->ResetPosition();
    }
}

void AudioConfig::LoadList(ConfigTextReader& reader, TrackList& list) {
    reader.NextLine();  // the list's header line
    std::string line = reader.ReadLine();
    bool cut = reader.LastLineWasCut();
    reader.NextLine();
    // A file that ends before the list's "." line keeps what was read.
    while (!line.empty() && line[0] != '.') {
        const std::string sched = reader.ReadLine();
        reader.NextLine();
        if (line.find('\0') != std::string::npos || sched.find('\0') != std::string::npos) {
            // A damaged line (a zero byte in it) is left out with its track; the
            // rest of both lists is read on.
            Log("error - a track of %s holding a zero byte left out", kConfigFile);
            if (!sched.empty() && sched[0] == '.') break;
        } else if (cut) {
            // Cut short it would name another file, or none: the track is left out.
            Log("error - track name over %zu bytes left out (%s...)", kMaxNameLength, line.c_str());
            boxes_.Show("A track name in " + std::string(kConfigFile) + " is longer than " +
                            std::to_string(kMaxNameLength) + " bytes; the track was left out:\n" +
                            line + "...",
                        "Error");
        } else {
            list.tracks.push_back(Track{line, TrackSchedule::New(clock_), true});
            list.BuildOrder();
            TrackSchedule& s = list.tracks.back().schedule;
            if (!sched.empty() && sched[0] == '.') {
                // The schedule line was lost: the "." ends the list all the same.
                Log("error - track without a schedule line (%s)", line.c_str());
                list.tracks.back().inSchedule = s.IsActiveNow(clock_);
                break;
            }
            // Fields the line does not give keep the values of a new schedule.
            char dateWord[128] = "false", timeWord[128] = "false";
            int v[12] = {s.dateFrom.First(), s.dateFrom.Second(), s.dateFrom.Third(),
                         s.dateTo.First(),   s.dateTo.Second(),   s.dateTo.Third(),
                         s.timeFrom.First(), s.timeFrom.Second(), s.timeFrom.Third(),
                         s.timeTo.First(),   s.timeTo.Second(),   s.timeTo.Third()};
            std::sscanf(sched.c_str(), "%127s %d %d %d %d %d %d %127s %d %d %d %d %d %d", dateWord,
                        &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], timeWord, &v[6], &v[7], &v[8],
                        &v[9], &v[10], &v[11]);
            s.dateRangeOn = std::string(dateWord) == "true";
            s.dateFrom.Set(v[0], v[1], v[2]);
            s.dateTo.Set(v[3], v[4], v[5]);
            s.timeRangeOn = std::string(timeWord) == "true";
            s.timeFrom.Set(v[6], v[7], v[8]);
            s.timeTo.Set(v[9], v[10], v[11]);
            list.tracks.back().inSchedule = s.IsActiveNow(clock_);
        }
        line = reader.ReadLine();
        cut = reader.LastLineWasCut();
        reader.NextLine();
    }
    list.ResetPosition();
}

void AudioConfig::Load() {
    music.Clear();
    voice.Clear();
    loaded = false;
    copyProblem.clear();
    loadedText.clear();
    ConfigTextReader reader;
    std::string onDisk;
    bool opened = ReadWholeFile(kConfigFile, onDisk);
    if (opened) {
        loadedText = onDisk;
        reader.SetText(std::move(onDisk));
    }
    struct stat st {};
    if (!opened && ::lstat(kConfigFile, &st) != 0 && errno == ENOENT) {
        // A first run: "default.cfg" becomes "audio.cfg" whole or not at all.
        std::string text;
        if (ReadWholeFile(kDefaultFile, text)) {
            std::string why;
            if (WriteFileAtomically(kConfigFile, text, &why)) {
                firstRun = true;
                loadedText = text;
            } else {
                copyProblem = why;
                Log("error - cannot copy %s to %s (%s)", kDefaultFile, kConfigFile, why.c_str());
            }
            reader.SetText(std::move(text));
            opened = true;
        }
    }
    if (!opened) {
        char text[300];
        std::snprintf(text, sizeof text, "File %s not found", kConfigFile);
        boxes_.Show(text, "Error");
        return;
    }
    Read(reader);
    loaded = true;
}

void AudioConfig::LoadText(std::string text) {
    music.Clear();
    voice.Clear();
    ConfigTextReader reader;
    reader.SetText(std::move(text));
    Read(reader);
    loaded = true;
}

void AudioConfig::Read(ConfigTextReader& reader) {
    reader.NextLine();  // [VOICE]
    ReadSetting(reader, voice.gapSeconds);
    ReadSetting(reader, voice.volume);
    ReadSetting(reader, voice.random);
    reader.NextLine();  // [MUSIC]
    ReadSetting(reader, music.gapSeconds);
    ReadSetting(reader, music.volume);
    ReadSetting(reader, music.random);
    LoadList(reader, music);
    LoadList(reader, voice);
}

std::string AudioConfig::SaveText() const {
    std::string out;
    out += "[VOICE]\n" + Format("%d\n%d\n%d\n\n", voice.gapSeconds, voice.volume, voice.random);
    out += "[MUSIC]\n" + Format("%d\n%d\n%d\n\n", music.gapSeconds, music.volume, music.random);
    for (const TrackList* list : {&music, &voice}) {
        out += list == &music ? "[MUSIC_LIST]\n" : "[VOICE_LIST]\n";
        for (const Track& t : list->tracks) {
            const TrackSchedule& s = t.schedule;
            out += t.name + "\n";
            out += std::string(s.dateRangeOn ? "true" : "false") + " " + PrintDate(s.dateFrom) +
                   " " + PrintDate(s.dateTo) + " " + (s.timeRangeOn ? "true" : "false") + " " +
                   PrintDate(s.timeFrom) + " " + PrintDate(s.timeTo) + "\n";
        }
        out += ".\n\n";
    }
    return out;
}

bool AudioConfig::Save(std::string* why) {
    std::string text = SaveText();
    if (!WriteFileAtomically(kConfigFile, text, why)) return false;
    loadedText = std::move(text);
    return true;
}

std::string AudioConfig::CheckText(const std::string& whole) {
    // The lines as the reader sees them: any line end, empty lines skipped. A
    // zero byte is damage, not text.
    if (const size_t nul = whole.find('\0'); nul != std::string::npos)
        return "line " + std::to_string(1 + std::count(whole.begin(), whole.begin() + nul, '\n')) +
               ": a zero byte";
    const std::string& text = whole;
    std::vector<std::pair<int, std::string>> lines;
    int number = 1;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        if (end > at) lines.emplace_back(number, text.substr(at, end - at));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end;
        ++number;
        at = end + 1;
    }
    size_t i = 0;
    auto where = [&](const std::string& what) {
        const int n = i < lines.size() ? lines[i].first : number;
        return "line " + std::to_string(n) + ": " + what;
    };
    auto expect = [&](const char* header) {
        if (i >= lines.size() || lines[i].second != header)
            return where(std::string("\"") + header + "\" expected");
        ++i;
        return std::string();
    };
    auto numbers = [&](int count) {
        for (int k = 0; k < count; ++k, ++i) {
            int v = 0;
            char extra = 0;
            if (i >= lines.size() || std::sscanf(lines[i].second.c_str(), "%d %c", &v, &extra) != 1)
                return where("a whole number expected (gap, volume, then 0 or 1 for the order)");
        }
        return std::string();
    };
    auto list = [&](const char* header) {
        if (std::string why = expect(header); !why.empty()) return why;
        for (;;) {
            if (i >= lines.size()) return where("the list does not end with a \".\" line");
            if (lines[i].second[0] == '.') {
                ++i;
                return std::string();
            }
            ++i;  // a track name
            char a[8], b[8], extra = 0;
            int v[12];
            if (i >= lines.size() ||
                std::sscanf(lines[i].second.c_str(), "%7s %d %d %d %d %d %d %7s %d %d %d %d %d %d %c",
                            a, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], b, &v[6], &v[7], &v[8],
                            &v[9], &v[10], &v[11], &extra) != 14 ||
                (std::string(a) != "true" && std::string(a) != "false") ||
                (std::string(b) != "true" && std::string(b) != "false"))
                return where("a schedule expected after the track name: true or false, two "
                             "dates (Y M D), true or false, two times (H M S)");
            ++i;
        }
    };
    // The sections in their order; the first that is wrong is said.
    std::string why = expect("[VOICE]");
    if (why.empty()) why = numbers(3);
    if (why.empty()) why = expect("[MUSIC]");
    if (why.empty()) why = numbers(3);
    if (why.empty()) why = list("[MUSIC_LIST]");
    if (why.empty()) why = list("[VOICE_LIST]");
    if (why.empty() && i < lines.size()) why = where("nothing may follow the voice list");
    return why;
}

bool AudioConfig::ExportPlaylist() const {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<?xml-stylesheet type=\"text/xsl\" href=\"htm/playlist.xsl\"?>\n"
        "<playlist>\n";
    // A list that plays at random says so: its order on paper is not the play order.
    out += voice.random ? "<voice order=\"random\">\n" : "<voice>\n";
    ExportList(voice, kVoicePrefixLength, clock_, out);
    out += music.random ? "</voice>\n<music order=\"random\">\n" : "</voice>\n<music>\n";
    ExportList(music, kMusicPrefixLength, clock_, out);
    out += "</music>\n</playlist>\n";
    return WriteFileAtomically(kPlaylistFile, out);
}

bool AudioConfig::SetVolumeAndSave(bool isMusic, int volume, std::string* why) {
    (isMusic ? music : voice).volume = volume;
    if (!loaded) {
        Log("status - volume not saved: no configuration file was read");
        return true;
    }
    // Lists it holds are never written over a newer file (one edited by hand
    // that does not read whole).
    std::string onDisk;
    if (ReadWholeFile(kConfigFile, onDisk) && onDisk != loadedText) {
        if (why) *why = "audio.cfg changed on disk meanwhile and was not written over";
        return false;
    }
    return Save(why);
}

void AudioConfig::ResetPositions() {
    music.ResetPosition();
    voice.ResetPosition();
}

bool AudioConfig::RefreshScheduleFlags() {
    const bool m = music.RefreshScheduleFlags();
    const bool v = voice.RefreshScheduleFlags();
    return m || v;
}

}  // namespace tw
