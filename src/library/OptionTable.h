#pragma once

// Every option of the program, described once: its name (the command line's
// --NAME and tonewell.conf's key), where it may stand, its value, what is
// allowed, its default and its help. The command line's parser, the checks of
// tonewell.conf, --help and the manual page are all made from this table.
// Any thread (the table is constant).

#include <string>
#include <vector>

namespace tw {

enum class OptionKind {
    Flag,     // no value
    Number,   // a whole number in [low, high], a multiple of `step` from `low`
    Decimal,  // a number with a fraction in [low, high]
    Choice,   // one of `choices` ("mp3|opus")
    Text,     // checked where it is used (a URL, an address, a date)
};

enum OptionWhere : unsigned {
    kOnCommandLine = 1,
    kInConf = 2,
};

struct OptionSpec {
    const char* name;
    unsigned where = kOnCommandLine;
    OptionKind kind = OptionKind::Flag;
    const char* value = "";      // the value's name in the help ("R", "HOST:PORT")
    double low = 0, high = 0;
    long step = 1;
    const char* choices = "";    // Choice: "pcmu|pcma|g722"
    const char* fallback = "";   // the default ("" for none)
    const char* unit = "";       // said after a range: "(kb/s)"
    const char* rule = "";       // Text: what is allowed, for a message
    const char* section = "";
    const char* help = "";
};

// In the order of the help.
const std::vector<OptionSpec>& OptionTable();
// Null when there is no such option.
const OptionSpec* FindOption(const std::string& name);
// Whether `value` is allowed (always true for Text and Flag).
bool OptionValueValid(const OptionSpec& spec, const std::string& value);
// What is allowed, as a message says it: "8000 to 192000", "1 or 2",
// "pcmu, pcma or g722", "10 to 60 (ms, in steps of 10)".
std::string OptionRule(const OptionSpec& spec);
// The words of a comma-separated list, trimmed; empty words are kept (as "").
std::vector<std::string> SplitList(const std::string& text);

// --help's text.
std::string HelpText();
// The manual page's OPTIONS section, in troff.
std::string ManPageOptions();

}  // namespace tw
