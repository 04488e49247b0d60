#include "LiveOutputs.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OptionTable.h"
#include "PipeSink.h"
#include "RtpSink.h"
#include "SipServer.h"
#include "StreamEncoder.h"
#include "StreamSink.h"

namespace tw {
namespace {

const char* const kOutputNames[] = {"device", "null", "pipe", "icecast", "rtp", "sip"};

std::unique_ptr<PcmSink> MakePipe(Settings& settings) {
    const int rate = settings.GetNumber("rate");
    const int channels = settings.GetNumber("channels");
    // A reader that goes away ends the program as it asked; any other failed
    // write (a full disk) is an error.
    return std::make_unique<PipeSink>(1, rate, channels, [](int error) {
        if (error != EPIPE)
            std::fprintf(stderr, "tonewell: the audio cannot be written to standard output: %s\n",
                         std::strerror(error));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [error] { QCoreApplication::exit(error == EPIPE ? 0 : 1); }, Qt::QueuedConnection);
    });
}

// Null with the output left out (said), or with `problem` set for the command line.
std::unique_ptr<PcmSink> MakeIcecast(Settings& settings, bool listFromLine, std::string& problem) {
    StreamTarget target;
    std::string why;
    if (!settings.Given("stream-url")) {
        why = "the icecast output needs a stream URL: --stream-url, or stream-url in tonewell.conf";
        if (listFromLine) problem = why;
        else std::fprintf(stderr, "tonewell: %s; it is left out\n", why.c_str());
        return nullptr;
    }
    if (!ParseStreamUrl(settings.Get("stream-url"), target, why)) {
        if (settings.FromCommandLine("stream-url") || listFromLine)
            problem = settings.Where("stream-url") + ": " + why;
        else
            std::fprintf(stderr, "tonewell: %s: %s; the icecast output is left out\n",
                         settings.Where("stream-url").c_str(), why.c_str());
        return nullptr;
    }
    if (const char* password = std::getenv("TONEWELL_STREAM_PASSWORD");
        password && target.password.empty())
        target.password = password;
    target.format = settings.Get("stream-format");
    target.kbps = settings.GetNumber("stream-bitrate");
    target.rate = settings.GetNumber("rate");
    target.channels = settings.GetNumber("channels");
    // Refused formats are said now, not once a server answers.
    if (!StreamEncoder::Make(target.format, target.rate, target.channels, target.kbps, why)) {
        problem = "--stream-format " + target.format + ": " + why;
        return nullptr;
    }
    return std::make_unique<StreamSink>(target);
}

std::unique_ptr<PcmSink> MakeRtp(Settings& settings, bool listFromLine, std::string& problem) {
    RtpSettings rtp;
    std::string why;
    if (!settings.Given("rtp-to")) {
        why = "the rtp output needs somewhere to send: --rtp-to HOST:PORT, or rtp-to in "
              "tonewell.conf";
        if (listFromLine) problem = why;
        else std::fprintf(stderr, "tonewell: %s; it is left out\n", why.c_str());
        return nullptr;
    }
    if (!ResolveRtpTargets(settings.Get("rtp-to"), rtp.to, why)) {
        if (settings.FromCommandLine("rtp-to"))
            problem = "--rtp-to takes " + OptionRule(*FindOption("rtp-to")) + ": " + why;
        else
            std::fprintf(stderr, "tonewell: %s: rtp-to: %s; the rtp output is left out\n",
                         settings.Where("rtp-to").c_str(), why.c_str());
        return nullptr;
    }
    rtp.codec = settings.Get("rtp-codec");
    rtp.ptimeMs = settings.GetNumber("rtp-ptime");
    rtp.ttl = settings.GetNumber("rtp-ttl");
    rtp.dscp = settings.GetNumber("rtp-dscp");
    rtp.interface = settings.Get("rtp-interface");
    if (!rtp.interface.empty() && !NetworkInterfaceExists(rtp.interface)) {
        const std::string rule = OptionRule(*FindOption("rtp-interface"));
        if (settings.FromCommandLine("rtp-interface"))
            problem = "--rtp-interface takes " + rule + "; there is no " + rtp.interface;
        else
            std::fprintf(stderr,
                         "tonewell: %s: rtp-interface takes %s; there is no %s, so the system "
                         "chooses\n",
                         settings.Where("rtp-interface").c_str(), rule.c_str(),
                         rtp.interface.c_str());
        rtp.interface.clear();
    }
    if (RtpPayloadType(rtp.codec) < 0 || !problem.empty()) return nullptr;
    return std::make_unique<RtpSink>(rtp);
}

std::unique_ptr<PcmSink> MakeSip(Settings& settings, bool listFromLine, std::string& problem) {
    SipSettings sip;
    std::string why;
    auto said = [&](const std::string& option, const std::string& what) {
        if (settings.FromCommandLine(option) || (listFromLine && !settings.Given(option)))
            problem = "--" + option + " takes " + OptionRule(*FindOption(option)) + ": " + what;
        else
            std::fprintf(stderr, "tonewell: %s: %s: %s; the sip output is left out\n",
                         settings.Where(option).c_str(), option.c_str(), what.c_str());
        return nullptr;
    };
    if (!settings.Given("sip"))
        return said("sip", "the sip output needs a port to answer on");
    if (!ParseSipListen(settings.Get("sip"), sip.local, sip.port, why)) return said("sip", why);
    if (!ParseAddressList(settings.Get("sip-allow"), sip.allow, why)) return said("sip-allow", why);
    sip.maxCalls = settings.GetNumber("sip-max-calls");
    sip.maxCallSeconds = settings.GetNumber("sip-max-call") * 60;
    sip.sessionExpires = settings.GetNumber("sip-session-expires");
    sip.dscp = settings.GetNumber("rtp-dscp");
    if (!problem.empty() || !settings.problem().empty()) return nullptr;
    auto server = std::make_unique<SipServer>(sip);
    if (!server->Start(why)) {
        // The value is fine; the port is taken, or the address not this machine's.
        if (settings.FromCommandLine("sip") || listFromLine)
            problem = "--sip " + settings.Get("sip") + ": " + why;
        else
            std::fprintf(stderr, "tonewell: %s: sip: %s; the sip output is left out\n",
                         settings.Where("sip").c_str(), why.c_str());
        return nullptr;
    }
    return server;
}

}  // namespace

bool ParseOutputList(const std::string& text, std::vector<std::string>& names, std::string& why) {
    names.clear();
    for (const std::string& name : SplitList(text)) {
        if (name.empty()) {
            why = "an empty name in the list";
            return false;
        }
        if (std::find(std::begin(kOutputNames), std::end(kOutputNames), name) ==
            std::end(kOutputNames)) {
            why = "there is no output " + name.substr(0, 40);
            return false;
        }
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            why = name + " is named twice";
            return false;
        }
        names.push_back(name);
    }
    if (names.empty()) {
        why = "the list is empty";
        return false;
    }
    if (names.size() > 1 && std::find(names.begin(), names.end(), "null") != names.end()) {
        why = "null plays alone";
        return false;
    }
    return true;
}

bool MakeLiveOutputs(Settings& settings, bool headless, LiveOutputs& out, std::string& problem) {
    // The file's output is the headless service's; a window started in the same
    // folder plays on the sound card unless its own command line says otherwise.
    const bool fromLine = settings.FromCommandLine("output");
    const std::string text = headless || fromLine ? settings.Get("output") : "device";
    std::vector<std::string> names;
    std::string why;
    const std::string rule = OptionRule(*FindOption("output"));
    if (!ParseOutputList(text, names, why)) {
        if (fromLine) {
            problem = "--output takes " + rule + "; " + why;
            return false;
        }
        std::fprintf(stderr, "tonewell: %s: output takes %s (%s); device is used\n",
                     settings.Where("output").c_str(), rule.c_str(), why.c_str());
        names = {"device"};
    }
    // --sip adds the media server to the outputs (it plays alone instead of null).
    if (settings.Given("sip") && std::find(names.begin(), names.end(), "sip") == names.end()) {
        if (names.size() == 1 && names[0] == "null") names.clear();
        names.push_back("sip");
    }
    const bool card = std::find(names.begin(), names.end(), "device") != names.end();
    const bool none = names.size() == 1 && names[0] == "null";
    for (const std::string& name : names) {
        std::unique_ptr<PcmSink> sink;
        if (name == "pipe") {
            if (!headless) {
                problem = "--output pipe needs --headless";
                return false;
            }
            if (!CanWriteTo(1, why)) {
                problem = "--output pipe: " + why;
                return false;
            }
            sink = MakePipe(settings);
        } else if (name == "icecast") {
            sink = MakeIcecast(settings, fromLine, problem);
        } else if (name == "rtp") {
            sink = MakeRtp(settings, fromLine, problem);
        } else if (name == "sip") {
            sink = MakeSip(settings, fromLine, problem);
        }
        if (!problem.empty() || !settings.problem().empty()) return false;
        if (sink) {
            out.sinks.push_back(sink.get());
            out.owned.push_back(std::move(sink));
        }
    }
    out.mode = card ? OutputMode::Device : none ? OutputMode::Null : OutputMode::Sink;
    if (out.mode == OutputMode::Sink && out.sinks.empty()) {
        problem = "no output of " + settings.Where("output") + " can play";
        return false;
    }
    // A reader or server that goes away is seen as a failed write, not as a signal
    // that kills the program.
    if (!out.sinks.empty()) std::signal(SIGPIPE, SIG_IGN);
    return true;
}

}  // namespace tw
