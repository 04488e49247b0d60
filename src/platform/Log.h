#pragma once

// The program's one log sink. Lines are discarded unless logging was switched on
// (the --log switch); then each goes to stderr, behind an optional prefix such as
// the virtual time of a render run. Any thread: a line is written whole under a
// lock (the output watcher and the preload thread log too).

#include <functional>
#include <string>
#include <vector>

namespace tw {

// Hands one finished line to the sink.
void LogSink(const char* line);

// Formats printf-style into a 256-byte line buffer (longer lines are cut) and
// hands the result to LogSink.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

void SetLogEnabled(bool enabled);
bool LogEnabled();

// Trace: every line (the automaton's states and events, each preload), as renders
// and tests read them. Info: what an admin reads (plays, messages, errors,
// outputs, console actions); an error line said in the last hour is only
// counted, and said again with its count once the hour is over.
enum class LogLevel { Trace, Info };
void SetLogLevel(LogLevel level);
// "info" or "trace"; false for anything else.
bool ParseLogLevel(const std::string& text, LogLevel& level);

// Text put before every written line; empty function for none.
void SetLogPrefix(std::function<std::string()> prefix);

// Every line kept, written or not, also goes to the admin's record
// (AdminRecord.h), which takes those that are for it.

// Where written lines go instead of stderr (tests); empty function restores stderr.
void SetLogCapture(std::function<void(const std::string&)> capture);

}  // namespace tw
