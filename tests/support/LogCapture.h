#pragma once

// Collects the log lines written while it lives.

#include <string>
#include <vector>

#include "Log.h"

namespace tw::test {

class LogCapture {
  public:
    LogCapture() {
        SetLogEnabled(true);
        SetLogCapture([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() {
        SetLogCapture(nullptr);
        SetLogEnabled(false);
    }
    // The lines that begin with `prefix`, with the prefix cut off.
    std::vector<std::string> With(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
        return out;
    }
    bool Has(const std::string& line) const {
        for (const auto& l : lines)
            if (l == line) return true;
        return false;
    }
    std::vector<std::string> lines;
};

}  // namespace tw::test
