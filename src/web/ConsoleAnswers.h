#pragma once

// What the web console answers about the player and does to it: JSON for the
// status, the lists, the settings and the sounds tree, and the edits of the lists
// (through the lists editor, as Manage Audio makes them). Main thread only (the
// server posts each call there), but for ListsJson.

#include <QJsonObject>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Clock.h"
#include "ListsEditor.h"

namespace tw {

class OnHoldPlayer;

// The lists as the player has them, copied on the main thread (a copy of ten
// thousand tracks takes a millisecond or two) to be made into JSON on any other:
// the main thread is never held by a long list.
struct ListsView {
    explicit ListsView(const AudioConfig& config) : editor(config) {}
    ListsEditor editor;
    std::map<std::string, std::string> failed;
    std::string problem;
    LocalTime now;
};

// An HTTP status and its JSON body; `lists`, when given, is made into JSON and
// joins the body as it is sent.
struct Answer {
    Answer() = default;
    Answer(int s, QJsonObject b = {}, std::shared_ptr<const ListsView> l = nullptr)
        : status(s), body(std::move(b)), lists(std::move(l)) {}
    int status = 200;
    QJsonObject body;
    std::shared_ptr<const ListsView> lists;
};

// {"error": text} with `status`.
Answer Error(int status, const std::string& text);

// "state", "music", "voice", "next_message_in", "status", the output, the levels,
// the uptime and the failed tracks.
Answer StatusAnswer(OnHoldPlayer& player, int64_t uptimeSeconds);
// The lists now, for ListsJson.
std::shared_ptr<const ListsView> ViewLists(OnHoldPlayer& player, const LocalTime& now);
// Both lists with their schedules, their settings and coverage, and the version
// of "audio.cfg" they come from. Any thread.
QJsonObject ListsJson(const ListsView& view);
// One edit of a list ("add", "remove", "move", "clear", "settings", "schedule")
// with its JSON body: refused over a newer version, saved, and taken by the
// player without a new cycle. `namesChecked`: an add's names passed
// ListsEditor::CheckNames off the main thread.
Answer Edit(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& action,
            const QJsonObject& body, bool namesChecked = false);
// The settings, `web` being where the console listens.
Answer SettingsAnswer(OnHoldPlayer& player, const std::string& web, bool https);
// What Settings may change on a box with no desktop: start playing, levelling.
Answer ChangeSettings(OnHoldPlayer& player, const QJsonObject& body);
// Every category of both kinds with its files and their stored names.
Answer SoundsAnswer();

}  // namespace tw
