#include "RenderRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Log.h"
#include "VirtualSession.h"
#include "WavHeader.h"

namespace tw {
namespace {

constexpr int kRate = 44100;

}  // namespace

int RenderRun(const RenderOptions& options) {
    std::FILE* out = std::fopen(options.outPath.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "tonewell: cannot write %s: %s\n", options.outPath.c_str(),
                     std::strerror(errno));
        return 2;
    }
    uint8_t header[44];
    WriteWavHeader16(header, 2, kRate, 0);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;

    uint64_t written = 0;
    {
        ConsoleMessageBox boxes;
        NullView view;
        VirtualSession session(options.start, boxes, view, kRate);
        VirtualClock& clock = session.clock();
        SetLogPrefix([&clock] {
            char prefix[32];
            const int64_t ms = clock.ElapsedMs();
            std::snprintf(prefix, sizeof prefix, "[%lld.%03lld] ",
                          static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
            return std::string(prefix);
        });
        session.player().Initialise();
        std::vector<int16_t> pcm;
        session.Run(options.seconds * 1000, [&](const float* mix, int n) {
            if (!ok) return;
            pcm.resize(2 * static_cast<size_t>(n));
            for (int i = 0; i < 2 * n; ++i)
                pcm[i] = static_cast<int16_t>(std::lround(mix[i] * 32767.0f));
            ok = std::fwrite(pcm.data(), 4, n, out) == static_cast<size_t>(n);
            written += 4u * static_cast<uint64_t>(n);
        });
    }
    SetLogPrefix(nullptr);
    WriteWavHeader16(header, 2, kRate,
                     static_cast<uint32_t>(std::min<uint64_t>(written, 0xFFFFFFFFull - 36)));
    ok = ok && std::fseek(out, 0, SEEK_SET) == 0 &&
         std::fwrite(header, 1, sizeof header, out) == sizeof header;
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "tonewell: cannot write %s\n", options.outPath.c_str());
        return 2;
    }
    return 0;
}

}  // namespace tw
