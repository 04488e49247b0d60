#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "OptionTable.h"
#include "Paths.h"
#include "StreamSink.h"

namespace tw {
namespace {

// "/Automation", "-automation", "--AUTOMATION": the automatic-start switch.
bool IsAutomationSwitch(const std::string& arg) {
    size_t i = 0;
    while (i < arg.size() && (arg[i] == '-' || arg[i] == '/')) ++i;
    return i > 0 && AsciiLower(arg.substr(i)) == "automation";
}

// A password on the command line is seen by every local user (ps, /proc/PID/cmdline)
// until it is gone from the process's arguments: it is blanked out as soon as it
// is read, and the safer forms are recommended.
void HidePassword(char* url) {
    size_t length = 0;
    const size_t at = PasswordSpan(url, length);
    if (length == 0) return;
    std::memset(url + at, 'x', length);
    std::fprintf(stderr,
                 "tonewell: warning: a password on the command line can be read by other users; "
                 "put it in TONEWELL_STREAM_PASSWORD or in tonewell.conf (mode 0600) instead\n");
}

std::string NeedsText(const OptionSpec& spec) {
    return spec.kind == OptionKind::Choice ? OptionRule(spec) : std::string(spec.value);
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, CommandLine& out, std::string& problem) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionSpec& spec : OptionTable()) {
        if (!(spec.where & kOnCommandLine)) continue;
        QCommandLineOption option(QString::fromLatin1(spec.name), QString::fromUtf8(spec.help));
        // A value's name is what makes Qt's parser read a value.
        if (spec.kind != OptionKind::Flag)
            option.setValueName(QString::fromLatin1(*spec.value ? spec.value : spec.choices));
        parser.addOption(option);
    }
    QStringList args{QStringLiteral("tonewell")};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        args << (IsAutomationSwitch(arg) ? QStringLiteral("--automation") : QString::fromLocal8Bit(argv[i]));
    }
    // Read, then blanked: --stream-url URL and --stream-url=URL.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--stream-url" && i + 1 < argc) HidePassword(argv[i + 1]);
        if (arg.rfind("--stream-url=", 0) == 0) HidePassword(argv[i] + std::strlen("--stream-url="));
    }
    if (!parser.parse(args)) {
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
            const QString name = unknown.first();
            problem = "unknown option " + std::string(name.size() == 1 ? "-" : "--") +
                      name.toStdString();
            return false;
        }
        // The other failure: an option's value is missing at the end.
        for (const OptionSpec& spec : OptionTable())
            if (args.last() == QStringLiteral("--") + QString::fromLatin1(spec.name)) {
                problem = "--" + std::string(spec.name) + " needs " + NeedsText(spec);
                return false;
            }
        problem = parser.errorText().toStdString();
        return false;
    }
    if (const QStringList rest = parser.positionalArguments(); !rest.isEmpty()) {
        problem = "unknown option " + rest.first().toStdString();
        return false;
    }
    for (const OptionSpec& spec : OptionTable()) {
        if (!(spec.where & kOnCommandLine)) continue;
        const QString name = QString::fromLatin1(spec.name);
        if (!parser.isSet(name)) continue;
        if (spec.kind == OptionKind::Flag)
            out.switches.insert(spec.name);
        else
            out.values[spec.name] = parser.values(name).last().toStdString();
    }
    return true;
}

std::string Settings::Get(const std::string& name) {
    const OptionSpec* spec = FindOption(name);
    const std::string fallback = spec ? spec->fallback : "";
    if (const auto it = line_.values.find(name); it != line_.values.end()) {
        if (spec && !OptionValueValid(*spec, it->second))
            Problem(name, "takes " + OptionRule(*spec));
        return it->second;
    }
    const std::string value = conf_.Get(name, fallback);
    if (!spec || (spec->where & kInConf) == 0 || OptionValueValid(*spec, value)) return value;
    std::fprintf(stderr, "tonewell: %s: %s takes %s; %s is used\n", conf_.Where(name).c_str(),
                 name.c_str(), OptionRule(*spec).c_str(), fallback.c_str());
    return fallback;
}

int Settings::GetNumber(const std::string& name) {
    const std::string text = Get(name);
    const OptionSpec* spec = FindOption(name);
    const long n = std::strtol(text.c_str(), nullptr, 10);
    if (spec && (n < spec->low || n > spec->high)) return std::atoi(spec->fallback);
    return static_cast<int>(n);
}

std::string Settings::Where(const std::string& name) const {
    return FromCommandLine(name) ? "--" + name : conf_.Where(name);
}

void Settings::Problem(const std::string& name, const std::string& what) {
    if (FromCommandLine(name)) {
        if (problem_.empty()) problem_ = "--" + name + " " + what;
        return;
    }
    std::fprintf(stderr, "tonewell: %s: %s %s\n", conf_.Where(name).c_str(), name.c_str(),
                 what.c_str());
}

}  // namespace tw
