#include "AdminRecord.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <mutex>

namespace tw {
namespace {

constexpr size_t kKeptLines = 1000;
constexpr long kMostFileBytes = 1 << 20;

std::mutex g_lock;
bool g_started = false;
std::string g_file;
std::deque<AdminLine> g_lines;

bool StartsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

void Keep(AdminLine line) {
    g_lines.push_back(std::move(line));
    while (g_lines.size() > kKeptLines) g_lines.pop_front();
}

// "TIME KIND TEXT": the file's form, one line each.
bool Parse(const std::string& text, AdminLine& line) {
    if (text.size() < 21 || text[10] != ' ' || text[19] != ' ') return false;
    const size_t kindEnd = text.find(' ', 20);
    if (kindEnd == std::string::npos) return false;
    line = {text.substr(0, 19), text.substr(20, kindEnd - 20), text.substr(kindEnd + 1)};
    return true;
}

}  // namespace

const char* AdminKind(const char* line) {
    if (StartsWith(line, "error - ") || StartsWith(line, "Error - ") || StartsWith(line, "Error: "))
        return "error";
    if (StartsWith(line, "status - sound output") || StartsWith(line, "status - streaming to") ||
        StartsWith(line, "status - the reader of the audio"))
        return "output";
    if (StartsWith(line, "status - web console: logged in") ||
        StartsWith(line, "status - web console: a failed login") ||
        StartsWith(line, "status - web console: a wrong old password") ||
        StartsWith(line, "status - web console: the password"))
        return "login";
    if (StartsWith(line, "status - web console: stored") || StartsWith(line, "status - web console: recorded") ||
        StartsWith(line, "status - imported "))
        return "upload";
    if (StartsWith(line, "status - web console: ") || StartsWith(line, "status - audio.cfg ") ||
        StartsWith(line, "status - tonewell.conf changed") || StartsWith(line, "status - SIGHUP"))
        return "edit";
    return nullptr;
}

void StartAdminRecord(const std::string& file) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_started = true;
    g_file = file;
    if (file.empty()) return;
    std::ifstream in(file);
    for (std::string text; std::getline(in, text);)
        if (AdminLine line; Parse(text, line)) Keep(std::move(line));
}

void RecordForAdmin(const char* text) {
    const char* kind = AdminKind(text);
    if (!kind) return;
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_started) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    AdminLine line{stamp, kind, text};
    if (!g_file.empty()) {
        if (std::FILE* f = std::fopen(g_file.c_str(), "ae")) {
            std::fprintf(f, "%s %s %s\n", line.time.c_str(), line.kind.c_str(), line.text.c_str());
            const long size = std::ftell(f);
            std::fclose(f);
            if (size > kMostFileBytes) std::rename(g_file.c_str(), (g_file + ".1").c_str());
        }
    }
    Keep(std::move(line));
}

std::vector<AdminLine> AdminRecord() {
    std::lock_guard<std::mutex> hold(g_lock);
    return {g_lines.begin(), g_lines.end()};
}

}  // namespace tw
