#pragma once

// The command line, read against the table of options (Qt's parser does the
// reading): which switches were given, and each value as written. What a value
// may be is checked later, where it is used, so that the command line and
// tonewell.conf are judged alike. Main thread, before anything else.

#include <map>
#include <set>
#include <string>

#include "TonewellConf.h"

namespace tw {

struct CommandLine {
    std::set<std::string> switches;             // options without a value
    std::map<std::string, std::string> values;  // the last value of each option given
    bool Has(const std::string& name) const {
        return switches.count(name) > 0 || values.count(name) > 0;
    }
};

// False with what is wrong in `problem` ("unknown option --x", "--render needs OUT").
// A password in a stream URL is blanked out of argv at once.
bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& problem);

// A setting from the command line, else from tonewell.conf, else its default. A
// bad value on the command line is kept as the first `problem` (the caller ends
// with status 2); a bad one in the file is said on stderr with its line, and the
// default is used.
class Settings {
  public:
    Settings(const CommandLine& line, const TonewellConf& conf) : line_(line), conf_(conf) {}
    std::string Get(const std::string& name);
    int GetNumber(const std::string& name);
    bool FromCommandLine(const std::string& name) const { return line_.values.count(name) > 0; }
    bool Given(const std::string& name) const {
        return FromCommandLine(name) || !conf_.Get(name).empty();
    }
    // "--rtp-to" or "tonewell.conf line 4": where a setting came from, for a message.
    std::string Where(const std::string& name) const;
    // Says a problem with a setting: kept for status 2 when it came from the command
    // line, written with its line when from the file.
    void Problem(const std::string& name, const std::string& what);
    const std::string& problem() const { return problem_; }

  private:
    const CommandLine& line_;
    const TonewellConf& conf_;
    std::string problem_;
};

}  // namespace tw
