#include "Log.h"

#include "AdminRecord.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <cstring>

namespace tw {
namespace {
// The sound output's watcher thread logs too.
std::mutex g_lock;
bool g_enabled = false;
std::function<std::string()> g_prefix;
std::function<void(const std::string&)> g_capture;
LogLevel g_level = LogLevel::Trace;

struct Repeat {
    std::chrono::steady_clock::time_point said;
    int more = 0;
};
std::map<std::string, Repeat> g_repeats;

bool StartsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// The automaton's trace and the steps between sounds: for renders and tests.
bool IsTrace(const char* line) {
    return StartsWith(line, "FSA - ") || StartsWith(line, "status - preload ") ||
           StartsWith(line, "status - music track finished") ||
           StartsWith(line, "status - voice track finished");
}

// At the info level: false for an error said within the last hour (it is
// counted); `suffix` gets the count of those left out when it is said again.
bool SayRepeat(const char* line, std::string& suffix) {
    if (!StartsWith(line, "error - ") && !StartsWith(line, "Error - ")) return true;
    const auto now = std::chrono::steady_clock::now();
    // A box's repeat ("... (shown before)") is the same error.
    std::string key = line;
    if (const size_t at = key.rfind(" (shown before)"); at != std::string::npos && at + 15 == key.size())
        key.resize(at);
    auto it = g_repeats.find(key);
    if (it == g_repeats.end()) {
        if (g_repeats.size() >= 1000) g_repeats.clear();  // a bound, not a record
        g_repeats.emplace(key, Repeat{now, 0});
        return true;
    }
    if (now - it->second.said < std::chrono::hours(1)) {
        ++it->second.more;
        return false;
    }
    if (it->second.more > 0)
        suffix = " (" + std::to_string(it->second.more) +
                 (it->second.more == 1 ? " more time" : " more times") + " in the last hour)";
    it->second = Repeat{now, 0};
    return true;
}
}  // namespace

void SetLogLevel(LogLevel level) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_level = level;
    g_repeats.clear();
}

bool ParseLogLevel(const std::string& text, LogLevel& level) {
    if (text == "info") level = LogLevel::Info;
    else if (text == "trace") level = LogLevel::Trace;
    else return false;
    return true;
}

void LogSink(const char* line) {
    std::lock_guard<std::mutex> hold(g_lock);
    std::string suffix;
    if (g_level == LogLevel::Info && (IsTrace(line) || !SayRepeat(line, suffix))) return;
    RecordForAdmin(suffix.empty() ? line : (std::string(line) + suffix).c_str());
    if (!g_enabled) return;
    std::string text = g_prefix ? g_prefix() : std::string();
    text += line;
    text += suffix;
    if (g_capture) {
        g_capture(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void Log(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    LogSink(line);
}

void SetLogEnabled(bool enabled) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_enabled = enabled;
}

bool LogEnabled() {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_enabled;
}

void SetLogPrefix(std::function<std::string()> prefix) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_prefix = std::move(prefix);
}

void SetLogCapture(std::function<void(const std::string&)> capture) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_capture = std::move(capture);
}

}  // namespace tw
