#include "LoadSound.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <new>
#include <set>

#include "Log.h"
#include "Paths.h"

namespace tw {
namespace {

constexpr int kPhoneRate = 8000;

std::string Message(const char* format, const std::string& path) {
    const int n = std::snprintf(nullptr, 0, format, path.c_str());
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, path.c_str());
    return text;
}

void LogCaseOnce(const std::string& path, const std::string& real) {
    static std::mutex lock;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> hold(lock);
    if (said.size() < 10000 && said.insert(path).second)
        Log("status - %s is played from %s (the letter case differs)", path.c_str(), real.c_str());
}

// Why a sound file could not be opened, in the user's words: only a file that is
// not there is "Unable to locate file".
std::string WhyNotOpened(const std::string& native, const std::string& path) {
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) {
        if (errno == EACCES) return Message("Unable to read file (%s): permission denied", path);
        return Message("Unable to locate file (%s)", path);
    }
    if (S_ISDIR(st.st_mode)) return Message("Unable to read file (%s): it is a folder", path);
    if (!S_ISREG(st.st_mode))
        return Message("Unable to read file (%s): it is not a regular file", path);
    if (st.st_size == 0) return Message("Unable to read file (%s): the file is empty", path);
    if (::access(native.c_str(), R_OK) != 0)
        return Message("Unable to read file (%s): permission denied", path);
    return Message("Unable to locate file (%s)", path);
}

}  // namespace

bool OpenSoundSource(const std::string& path, std::unique_ptr<SoundSource>& source,
                     LoadedSound& out, LoadOptions options) {
    out = LoadedSound{};
    // Linux names are case-sensitive: the name is opened as given and only a
    // lowercased copy is tested for ".mp3".
    if (!StaysUnder(path, "")) {
        out.error = Message("Unable to locate file (%s)", path);
        return false;
    }
    std::string native = NativePath(path);
    const bool isMp3 = AsciiLower(path).find(".mp3") != std::string::npos;
    uint64_t dataOffset = 44;
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0 && errno == ENOENT) {
        // A list from a system whose names ignore case: the one file that matches.
        if (std::string real = FindIgnoringCase(native); !real.empty()) {
            LogCaseOnce(path, real);
            native = real;
        }
    }
    const SourceResult result =
        isMp3 ? (options.outputRate == kPhoneRate
                     ? OpenMp3Source(native, source, kPhoneRate, options.monoOutput)
                     : OpenMp3Source(native, source))
              : OpenWavSource(native, source, out.size, dataOffset);
    switch (result) {
        case SourceResult::Ok:
            break;
        case SourceResult::Missing:
            out.error = WhyNotOpened(native, path);
            out.missingMp3 = isMp3;
            return false;
        case SourceResult::NotASound:
            out.error = Message("Unsupported audio format (%s): WAV in PCM 8-32 bit, float, u-law "
                                "or A-law; MP3",
                                path);
            return false;
        case SourceResult::NoAudio:
            Log("error - no audio in %s", path.c_str());
            out.error = Message("Unable to decode file (%s)", path);
            return false;
    }
    out.info.format = source->format();
    out.info.dataSize = source->frames() * source->format().blockAlign();
    out.info.dataOffset = dataOffset;
    // An MP3 is as long as the WAV file it decodes to: a 44-byte header's worth of
    // silence after the samples, like any WAV.
    if (isMp3) out.size = 44 + out.info.dataSize;
    return true;
}

bool ReadSound(const std::string& path, LoadedSound& out, LoadOptions options) {
    std::unique_ptr<SoundSource> source;
    if (!OpenSoundSource(path, source, out, options)) return false;
    std::string problem;
    try {
        auto stream = std::make_shared<SoundStream>(std::move(source), path);
        if (!stream->Prime(problem)) {
            out.error = Message("Unable to decode file (%s)", path);
            return false;
        }
        out.stream = std::move(stream);
    } catch (const std::bad_alloc&) {
        Log("error - out of memory loading %s", path.c_str());
        out.error = Message("Unable to decode file (%s)", path);
        return false;
    }
    return true;
}

void MakeSoundBuffer(const LoadedSound& sound, const std::string& path, SoundDevice& device,
                     std::unique_ptr<SoundBuffer>& bufferOut, MessageBox& boxes) {
    bufferOut.reset();
    // The buffer is as long as the file; it plays the samples, then silence for
    // the rest of its length.
    const uint32_t code = device.CreateStreamBuffer(sound.size, sound.stream, bufferOut);
    if (code != DS_OK) {
        bufferOut.reset();
        ShowDirectSoundError(boxes, code);
        boxes.Show(Message("CreateSoundBuffer failed for %s", path), "LoadSound Error");
    }
}

bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundStream>& streamOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes) {
    LoadedSound sound;
    if (!ReadSound(path, sound, {device ? device->mixer().outputRate() : 0})) {
        if (!sound.missingMp3) {
            bufferOut.reset();
            streamOut.reset();
        }
        boxes.Show(sound.error, "Error");
        return false;
    }
    bufferOut.reset();
    sizeOut = static_cast<uint32_t>(std::min<uint64_t>(sound.size, 0xFFFFFFFFull));
    if (device) MakeSoundBuffer(sound, path, *device, bufferOut, boxes);
    streamOut = sound.stream;
    return true;
}

}  // namespace tw
