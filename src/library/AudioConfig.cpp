#include "AudioConfig.h"

#include <cstdio>
#include <filesystem>

#include "AtomicFile.h"
#include "ConfigTextReader.h"
#include "Log.h"

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

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
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
    : music(clock), voice(clock), clock_(clock), boxes_(boxes) {}

AudioConfig::AudioConfig(const AudioConfig& other)
    : firstRun(other.firstRun),
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
    reader.NextLine();
    // A file that ends before the list's "." line keeps what was read.
    while (!line.empty() && line[0] != '.') {
        list.tracks.push_back(Track{line, TrackSchedule::New(clock_), true});
        list.BuildOrder();
        const std::string sched = reader.ReadLine();
        reader.NextLine();

        // Fields the line does not give keep the values of a new schedule.
        TrackSchedule& s = list.tracks.back().schedule;
        char dateWord[128] = "false", timeWord[128] = "false";
        int v[12] = {s.dateFrom.First(), s.dateFrom.Second(), s.dateFrom.Third(),
                     s.dateTo.First(),   s.dateTo.Second(),   s.dateTo.Third(),
                     s.timeFrom.First(), s.timeFrom.Second(), s.timeFrom.Third(),
                     s.timeTo.First(),   s.timeTo.Second(),   s.timeTo.Third()};
        std::sscanf(sched.c_str(), "%127s %d %d %d %d %d %d %127s %d %d %d %d %d %d", dateWord,
                    &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], timeWord, &v[6], &v[7], &v[8], &v[9],
                    &v[10], &v[11]);
        s.dateRangeOn = std::string(dateWord) == "true";
        s.dateFrom.Set(v[0], v[1], v[2]);
        s.dateTo.Set(v[3], v[4], v[5]);
        s.timeRangeOn = std::string(timeWord) == "true";
        s.timeFrom.Set(v[6], v[7], v[8]);
        s.timeTo.Set(v[9], v[10], v[11]);
        list.tracks.back().inSchedule = s.IsActiveNow(clock_);

        line = reader.ReadLine();
        reader.NextLine();
    }
    list.ResetPosition();
}

void AudioConfig::Load() {
    music.Clear();
    voice.Clear();
    std::error_code ec;
    if (!std::filesystem::exists(kConfigFile, ec)) {
        std::filesystem::copy_file(kDefaultFile, kConfigFile, std::filesystem::copy_options::none,
                                   ec);
        firstRun = true;
    }
    ConfigTextReader reader;
    if (!reader.Open(kConfigFile)) {
        char text[300];
        std::snprintf(text, sizeof text, "File %s not found", kConfigFile);
        boxes_.Show(text, "Error");
        return;
    }
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

bool AudioConfig::Save() const {
    return WriteFileAtomically(kConfigFile, SaveText());
}

bool AudioConfig::ExportPlaylist() const {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<?xml-stylesheet type=\"text/xsl\" href=\"htm/playlist.xsl\"?>\n"
        "<playlist>\n<voice>\n";
    ExportList(voice, kVoicePrefixLength, clock_, out);
    out += "</voice>\n<music>\n";
    ExportList(music, kMusicPrefixLength, clock_, out);
    out += "</music>\n</playlist>\n";
    return WriteFileAtomically(kPlaylistFile, out);
}

void AudioConfig::SetVolumeAndSave(bool isMusic, int volume) {
    (isMusic ? music : voice).volume = volume;
    Save();
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
