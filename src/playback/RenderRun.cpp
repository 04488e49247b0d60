#include "RenderRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Log.h"
#include "VirtualSession.h"

namespace tw {

int RenderRun(const RenderOptions& options) {
    SoundFileWriter out;
    std::string why;
    if (!out.Open(options.outPath, options.format, why)) {
        std::fprintf(stderr, "tonewell: %s\n", why.c_str());
        return 2;
    }
    bool ok = true;
    {
        ConsoleMessageBox boxes;
        NullView view;
        // The mixer runs at the file's rate: the sounds are resampled once, to it.
        VirtualSession session(options.start, boxes, view, options.format.rate);
        VirtualClock& clock = session.clock();
        SetLogPrefix([&clock] {
            char prefix[32];
            const int64_t ms = clock.ElapsedMs();
            std::snprintf(prefix, sizeof prefix, "[%lld.%03lld] ",
                          static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
            return std::string(prefix);
        });
        session.player().Initialise();
        // In steps of a minute, so that a terminal sees how far it got.
        const int64_t total = options.seconds * 1000;
        for (int64_t done = 0; done < total && ok;) {
            const int64_t step = std::min<int64_t>(60000, total - done);
            session.Run(step, [&](const float* mix, int n) { ok = ok && out.Write(mix, n); });
            done += step;
            if (options.progress)
                std::fprintf(stderr, "\rtonewell: rendered %lld of %lld s",
                             static_cast<long long>(done / 1000),
                             static_cast<long long>(options.seconds));
        }
        if (options.progress) std::fprintf(stderr, "\n");
    }
    SetLogPrefix(nullptr);
    if (!out.Close()) ok = false;
    if (!ok) {
        std::fprintf(stderr, "tonewell: cannot write %s\n", options.outPath.c_str());
        return 2;
    }
    return 0;
}

}  // namespace tw
