#pragma once

// What the web console answers about the player and does to it: JSON for the
// status, the lists, the settings and the sounds tree, and the edits of the lists
// (through the lists editor, as Manage Audio makes them). Main thread only: the
// server posts each call there.

#include <QJsonObject>
#include <cstdint>
#include <string>

#include "Clock.h"

namespace tw {

class OnHoldPlayer;

// An HTTP status and its JSON body.
struct Answer {
    int status = 200;
    QJsonObject body;
};

// {"error": text} with `status`.
Answer Error(int status, const std::string& text);

// "state", "music", "voice", "next_message_in", "status", the output, the levels,
// the uptime and the failed tracks.
Answer StatusAnswer(OnHoldPlayer& player, int64_t uptimeSeconds);
// Both lists with their schedules, their settings and coverage, and the version
// of "audio.cfg" they come from.
QJsonObject ListsJson(OnHoldPlayer& player, const LocalTime& now);
// One edit of a list ("add", "remove", "move", "clear", "settings", "schedule")
// with its JSON body: refused over a newer version, saved, and the player restarted
// on the new lists, as Manage Audio's OK does.
Answer Edit(OnHoldPlayer& player, const LocalTime& now, bool isMusic, const std::string& action,
            const QJsonObject& body);
// The settings, `web` being where the console listens.
Answer SettingsAnswer(OnHoldPlayer& player, const std::string& web, bool https);
// What Settings may change on a box with no desktop: start playing, levelling.
Answer ChangeSettings(OnHoldPlayer& player, const QJsonObject& body);
// Every category of both kinds with its files and their stored names.
Answer SoundsAnswer();

}  // namespace tw
