#include "OptionTable.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace tw {
namespace {

constexpr unsigned kBoth = kOnCommandLine | kInConf;
using K = OptionKind;

const std::vector<OptionSpec> kTable = {
    // ---- how it runs
    {.name = "automation", .section = "How it runs",
     .help = "An automatic start at login: ends at once when \"Start automatically\" is off in "
             "the settings, starts in the tray when the tray is on. Also -automation and "
             "/Automation, in any letter case."},
    {.name = "headless", .section = "How it runs",
     .help = "Play without a window; SIGINT or SIGTERM stops it."},
    {.name = "workdir", .kind = K::Text, .value = "DIR", .section = "How it runs",
     .help = "Work in DIR instead of the current folder. A folder with nothing of Tonewell's "
             "yet (a service's new state folder) is first filled from the installed content."},
    {.name = "desktop", .section = "How it runs",
     .help = "Work in $XDG_DATA_HOME/tonewell (filled from the installed data on first use), "
             "as when started from the applications menu."},
    // ---- live outputs
    {.name = "output", .where = kBoth, .kind = K::Text, .value = "LIST", .fallback = "device",
     .rule = "device, null, pipe, icecast, rtp or sip, or several of them joined by commas "
             "(null alone, each once)",
     .section = "Live outputs",
     .help = "Where the mix plays: device (the sound card), null (real time into nothing), "
             "pipe (raw signed 16-bit little-endian PCM on standard output, for a phone system "
             "that runs tonewell and reads it; needs --headless), icecast (a stream to an "
             "Icecast server), rtp (an RTP stream to IP phone systems), sip (a media server that "
             "phone systems call; --sip adds it). Several at once are "
             "joined by commas, e.g. device,rtp: the mix is made once, and an output that "
             "fails never silences another. With device in the list the sound card keeps "
             "time; otherwise the system's monotonic clock does. A window plays on the sound "
             "card unless its own command line says otherwise."},
    {.name = "rate", .where = kBoth, .kind = K::Number, .value = "R", .low = 8000,
     .high = 192000, .fallback = "8000", .section = "Live outputs",
     .help = "The pipe's and stream's rate (for --render, the file's)."},
    {.name = "channels", .where = kBoth, .kind = K::Number, .value = "C", .low = 1, .high = 2,
     .fallback = "1", .section = "Live outputs",
     .help = "The pipe's and stream's channels (for --render, the file's)."},
    {.name = "stream-url", .where = kBoth, .kind = K::Text,
     .value = "icecast://source@HOST:PORT/MOUNT", .rule = "icecast://source@HOST:PORT/MOUNT",
     .section = "Live outputs",
     .help = "The Icecast server and mount point. Give the password in the environment "
             "variable TONEWELL_STREAM_PASSWORD, or in stream-url in tonewell.conf kept at mode "
             "0600 (a password in the URL on the command line can be read by other users; it "
             "is blanked out of the arguments at once; special characters in it are "
             "percent-encoded). A lost server is tried again every 2 seconds."},
    {.name = "stream-format", .where = kBoth, .kind = K::Choice, .choices = "mp3|opus",
     .fallback = "mp3", .section = "Live outputs", .help = "The stream's encoding."},
    {.name = "stream-bitrate", .where = kBoth, .kind = K::Number, .value = "K", .low = 8,
     .high = 320, .fallback = "64", .unit = "(kb/s)", .section = "Live outputs",
     .help = "The stream's bit rate."},
    {.name = "rtp-to", .where = kBoth, .kind = K::Text, .value = "HOST:PORT[,HOST:PORT...]",
     .rule = "HOST:PORT, or several joined by commas (an IPv6 address in brackets)",
     .section = "Live outputs",
     .help = "Where the rtp output sends: addresses, unicast or multicast (a call manager's "
             "music source group such as 239.1.1.1:16384), IPv4 or IPv6. RTCP sender reports "
             "go to the port above each."},
    {.name = "rtp-codec", .where = kBoth, .kind = K::Choice, .choices = "pcmu|pcma|g722",
     .fallback = "pcmu", .section = "Live outputs",
     .help = "G.711 u-law (payload type 0), G.711 A-law (8) or G.722 (9, 16 kHz audio)."},
    {.name = "rtp-ptime", .where = kBoth, .kind = K::Number, .value = "MS", .low = 10,
     .high = 60, .step = 10, .fallback = "20", .unit = "(ms)", .section = "Live outputs",
     .help = "The audio in each RTP packet."},
    {.name = "rtp-ttl", .where = kBoth, .kind = K::Number, .value = "N", .low = 0, .high = 255,
     .fallback = "1", .section = "Live outputs",
     .help = "How many routers a multicast packet may cross (0: this machine only)."},
    {.name = "rtp-interface", .where = kBoth, .kind = K::Text, .value = "ADDRESS|NAME",
     .rule = "the name or an address of a network interface of this machine",
     .section = "Live outputs",
     .help = "The network interface a multicast stream leaves by (by default the system "
             "chooses by its routes)."},
    {.name = "rtp-dscp", .where = kBoth, .kind = K::Number, .value = "N", .low = 0, .high = 63,
     .fallback = "46", .section = "Live outputs",
     .help = "The DiffServ class of each RTP packet (of the rtp and the sip outputs): 46 "
             "(Expedited Forwarding) as voice is marked; 0 leaves packets unmarked."},
    {.name = "sip", .where = kBoth, .kind = K::Text, .value = "[ADDRESS:]PORT",
     .rule = "[ADDRESS:]PORT, the port 1 to 65535 (an IPv6 address in brackets)",
     .section = "Live outputs",
     .help = "Answer SIP calls on this port (UDP and TCP; of every address of this machine "
             "unless ADDRESS is given) with the music over RTP: a media server for music on "
             "hold that a PBX, a border controller or a SIP proxy calls. There is no default "
             "port: 5060 is often a PBX's. Adds the output sip."},
    {.name = "sip-allow", .where = kBoth, .kind = K::Text, .value = "CIDR[,CIDR...]",
     .fallback = "127.0.0.0/8, ::1/128",
     .rule = "networks as ADDRESS/BITS joined by commas", .section = "Live outputs",
     .help = "Who may call the sip output: others get 403. The media address a call names "
             "must lie in these networks too, and be one host (not multicast or broadcast), "
             "so that the server cannot be aimed at a third party."},
    {.name = "sip-max-calls", .where = kBoth, .kind = K::Number, .value = "N", .low = 1,
     .high = 20000, .fallback = "1000", .section = "Live outputs",
     .help = "Calls held at once; more get 503 with Retry-After."},
    {.name = "sip-max-call", .where = kBoth, .kind = K::Number, .value = "MINUTES", .low = 1,
     .high = 1440, .fallback = "240", .unit = "(minutes)", .section = "Live outputs",
     .help = "The longest a call lasts: then it is ended with a BYE."},
    {.name = "sip-session-expires", .where = kBoth, .kind = K::Number, .value = "S", .low = 90,
     .high = 86400, .fallback = "1800", .unit = "(s)", .section = "Live outputs",
     .help = "The session timer offered to callers (RFC 4028): a call whose refresh does not "
             "come in time is ended with a BYE."},
    // ---- loudness
    {.name = "loudness", .where = kInConf, .kind = K::Choice, .choices = "on|off",
     .fallback = "off", .section = "Loudness",
     .help = "Even out the loudness of the tracks, each measured once."},
    {.name = "loudness-music", .where = kInConf, .kind = K::Decimal, .value = "LUFS",
     .low = -40, .high = -5, .fallback = "-20", .unit = "(LUFS)", .section = "Loudness",
     .help = "The loudness music tracks are levelled to."},
    {.name = "loudness-voice", .where = kInConf, .kind = K::Decimal, .value = "LUFS",
     .low = -40, .high = -5, .fallback = "-16", .unit = "(LUFS)", .section = "Loudness",
     .help = "The loudness voice messages are levelled to."},
    // ---- files
    {.name = "render", .kind = K::Text, .value = "OUT", .section = "Files",
     .help = "Play --seconds N seconds on a virtual clock into the file OUT instead of a sound "
             "output; its type comes from its name (.wav, .flac, .ogg, .au); by default "
             "16-bit stereo at 44100 Hz."},
    {.name = "seconds", .kind = K::Text, .value = "N", .section = "Files",
     .help = "How long --render plays."},
    {.name = "start", .kind = K::Text, .value = "\"YYYY-MM-DD HH:MM:SS\"", .section = "Files",
     .help = "Where --render's virtual clock starts (by default now)."},
    {.name = "encoding", .kind = K::Choice, .choices = "pcm16|ulaw|alaw|float", .section = "Files",
     .help = "The samples of a rendered file."},
    {.name = "preset", .kind = K::Choice, .choices = "phone|ulaw|alaw", .section = "Files",
     .help = "8000 Hz mono 16-bit, G.711 u-law or A-law: files a phone system plays."},
    // ---- schedule
    {.name = "coverage", .section = "Schedule",
     .help = "For each day, the times at which no music track and no voice message is in "
             "schedule; exit status 0 when every minute is covered, 1 otherwise."},
    {.name = "from", .kind = K::Text, .value = "YYYY-MM-DD", .section = "Schedule",
     .help = "The first day --coverage looks at (by default today)."},
    {.name = "days", .kind = K::Number, .value = "N", .low = 1, .high = 3660, .fallback = "365",
     .section = "Schedule", .help = "How many days --coverage looks at."},
    // ---- web console
    {.name = "web", .where = kBoth, .kind = K::Text, .value = "[ADDRESS:]PORT",
     .rule = "[ADDRESS:]PORT", .section = "Web console",
     .help = "Serve the web console: a page and a JSON API under /api/ that manage the player. "
             "It listens on 127.0.0.1 unless an address is given, and needs a password."},
    {.name = "web-cert", .where = kInConf, .kind = K::Text, .value = "FILE",
     .section = "Web console", .help = "With web-key: the console speaks HTTPS."},
    {.name = "web-key", .where = kInConf, .kind = K::Text, .value = "FILE",
     .section = "Web console", .help = "The private key of web-cert."},
    {.name = "web-host", .where = kInConf, .kind = K::Text, .value = "NAME[,NAME...]",
     .section = "Web console",
     .help = "Names the console answers to besides its addresses and localhost."},
    {.name = "set-web-password", .section = "Web console",
     .help = "Set the web console's password, read from standard input."},
    // ---- other
    {.name = "list-devices", .section = "Other",
     .help = "Print each sound output's description and GUID."},
    {.name = "log", .section = "Other", .help = "Write the player's log lines on stderr."},
    {.name = "log-level", .where = kBoth, .kind = K::Choice, .choices = "info|trace",
     .fallback = "trace", .section = "Other",
     .help = "With info, only what an admin reads (plays, messages, errors, outputs, console "
             "actions), an error repeated within an hour counted instead of written; trace "
             "adds the automaton's states. On the command line it implies --log."},
    {.name = "help", .section = "Other", .help = "Show this text."},
    {.name = "version", .section = "Other", .help = "Show the version."},
};

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string Choices(const std::string& choices, const char* sep, const char* last) {
    std::vector<std::string> words;
    std::stringstream in(choices);
    for (std::string w; std::getline(in, w, '|');) words.push_back(w);
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : i + 1 == words.size() ? last : sep) + words[i];
    return text;
}

// The option as --help writes it: "--rtp-codec pcmu|pcma|g722", "loudness = on|off".
std::string Synopsis(const OptionSpec& spec, bool commandLine) {
    std::string value = spec.kind == OptionKind::Choice ? spec.choices : spec.value;
    if (commandLine) return "--" + std::string(spec.name) + (value.empty() ? "" : " " + value);
    return std::string(spec.name) + " = " + value;
}

std::string Details(const OptionSpec& spec) {
    std::string text = spec.help;
    if (spec.kind == OptionKind::Number || spec.kind == OptionKind::Decimal)
        text += " " + OptionRule(spec) + ".";
    if (*spec.fallback) text += " Default: " + std::string(spec.fallback) + ".";
    if (spec.where == kBoth) text += " Also " + std::string(spec.name) + " = ... in tonewell.conf.";
    if (spec.where == kInConf) text += " In tonewell.conf only.";
    // A sentence starts with a capital letter.
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
    return text;
}

std::string Wrap(const std::string& text, size_t indent, size_t width) {
    std::string out, line;
    std::stringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    return out;
}

std::string Troff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '-') out += "\\-";
        else if (c == '\\') out += "\\e";
        else out += c;
    }
    // A line that starts with a dot or a quote would be read as a request.
    return out;
}

}  // namespace

const std::vector<OptionSpec>& OptionTable() {
    return kTable;
}

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& spec : kTable)
        if (name == spec.name) return &spec;
    return nullptr;
}

bool OptionValueValid(const OptionSpec& spec, const std::string& value) {
    switch (spec.kind) {
        case OptionKind::Number: {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            return !value.empty() && *end == '\0' && n >= spec.low && n <= spec.high &&
                   (n - static_cast<long>(spec.low)) % spec.step == 0;
        }
        case OptionKind::Decimal: {
            char* end = nullptr;
            const double v = std::strtod(value.c_str(), &end);
            return !value.empty() && *end == '\0' && v >= spec.low && v <= spec.high;
        }
        case OptionKind::Choice:
            return value.find('|') == std::string::npos &&
                   ("|" + std::string(spec.choices) + "|").find("|" + value + "|") !=
                       std::string::npos;
        default:
            return true;
    }
}

std::string OptionRule(const OptionSpec& spec) {
    switch (spec.kind) {
        case OptionKind::Number:
        case OptionKind::Decimal: {
            std::string text = Number(spec.low) + (spec.high == spec.low + 1 && spec.step == 1 &&
                                                           spec.kind == OptionKind::Number
                                                       ? " or "
                                                       : " to ") +
                               Number(spec.high);
            std::string unit = spec.unit;
            if (spec.step > 1) {
                const std::string steps = "in steps of " + std::to_string(spec.step);
                unit = unit.empty() ? "(" + steps + ")"
                                    : unit.substr(0, unit.size() - 1) + ", " + steps + ")";
            }
            return unit.empty() ? text : text + " " + unit;
        }
        case OptionKind::Choice:
            return Choices(spec.choices, ", ", " or ");
        default:
            return spec.rule;
    }
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> words;
    std::stringstream in(text);
    for (std::string word; std::getline(in, word, ',');) {
        const auto first = word.find_first_not_of(" \t");
        words.push_back(first == std::string::npos
                            ? ""
                            : word.substr(first, word.find_last_not_of(" \t") - first + 1));
    }
    if (!text.empty() && text.back() == ',') words.push_back("");
    return words;
}

std::string HelpText() {
    std::string text =
        "Usage: tonewell [options]\n"
        "A music-on-hold player: music tracks with voice messages over a faded song.\n"
        "All files are read and written in the working folder. With no option: the main\n"
        "window. Settings marked so may also stand in tonewell.conf in the working folder\n"
        "(lines of key = value); the command line wins.\n";
    std::string section;
    for (const OptionSpec& spec : kTable) {
        if (section != spec.section) {
            section = spec.section;
            text += "\n" + section + ":\n";
        }
        const std::string head = "  " + Synopsis(spec, spec.where & kOnCommandLine);
        const std::string body = Wrap(Details(spec), 15, 79);
        if (head.size() < 14)
            text += head + std::string(15 - head.size(), ' ') + body.substr(15);
        else
            text += head + "\n" + body;
    }
    return text;
}

std::string ManPageOptions() {
    std::string text;
    std::string section;
    for (const OptionSpec& spec : kTable) {
        if (section != spec.section) {
            section = spec.section;
            text += ".SS " + section + "\n";
        }
        text += ".TP\n";
        std::string head = spec.where & kOnCommandLine ? "\\fB" + Troff(std::string("--") + spec.name) + "\\fR"
                                                       : "\\fB" + Troff(spec.name) + "\\fR =";
        if (spec.kind == OptionKind::Choice) {
            head += " " + Troff(Choices(spec.choices, "|", "|"));
        } else if (*spec.value) {
            head += " \\fI" + Troff(spec.value) + "\\fR";
        }
        text += head + "\n" + Troff(Details(spec)) + "\n";
    }
    return text;
}

}  // namespace tw
