#include "Log.h"

#include <cstdarg>
#include <ctime>
#include <deque>
#include <cstdio>
#include <mutex>

namespace tw {
namespace {
// The sound output's watcher thread logs too.
std::mutex g_lock;
bool g_enabled = false;
std::function<std::string()> g_prefix;
std::function<void(const std::string&)> g_capture;
size_t g_historyLines = 0;
std::deque<std::string> g_history;
}  // namespace

void LogSink(const char* line) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_historyLines > 0) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
        g_history.push_back(stamp + std::string(line));
        while (g_history.size() > g_historyLines) g_history.pop_front();
    }
    if (!g_enabled) return;
    std::string text = g_prefix ? g_prefix() : std::string();
    text += line;
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

void SetLogHistory(size_t lines) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_historyLines = lines;
    while (g_history.size() > g_historyLines) g_history.pop_front();
}

std::vector<std::string> LogHistory() {
    std::lock_guard<std::mutex> hold(g_lock);
    return {g_history.begin(), g_history.end()};
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
