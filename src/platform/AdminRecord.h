#pragma once

// The admin's record, apart from the player's trace: what someone who looks
// after the player reads. Logins and failed logins, uploads and recordings, edits
// of the lists with what changed, the sound output lost and back, and every
// error; never the automaton's states. The last 1000 lines are kept in memory
// (the web console shows them) and, unless the journal keeps them (under systemd
// with the log on), in a file of the working folder that moves aside to
// "<file>.1" past 1 MB; a start reads the file's last lines back. Any thread.

#include <string>
#include <vector>

namespace tw {

struct AdminLine {
    std::string time;  // "YYYY-MM-DD HH:MM:SS", local
    std::string kind;  // "login", "upload", "edit", "output" or "error"
    std::string text;
};

// The kind of a log line for the record; null for one that is not for it.
const char* AdminKind(const char* line);

// Starts keeping the record, in `file` too unless it is empty.
void StartAdminRecord(const std::string& file);

// A line as the log says it (the log calls this for every line it keeps).
void RecordForAdmin(const char* line);

// The record, oldest first.
std::vector<AdminLine> AdminRecord();

}  // namespace tw
