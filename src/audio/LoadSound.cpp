#include "LoadSound.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "AtomicFile.h"
#include "Log.h"
#include "Mp3Decoder.h"
#include "Paths.h"

namespace tw {
namespace {

constexpr const char* kTempWav = "tmp.wav";
constexpr uint64_t kMaxSoundBytes = 0xFFFFFFFFull;  // what a buffer's size can say

std::string Message(const char* format, const std::string& path) {
    const int n = std::snprintf(nullptr, 0, format, path.c_str());
    std::string text(static_cast<size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, format, path.c_str());
    return text;
}

enum class Read { Ok, Missing, NotASound };

// Reads a whole WAV file into memory, but only once its header (found in a
// mapping of the file, which costs no reading) says it is a sound.
Read ReadWavFile(const std::string& nativePath, std::unique_ptr<SoundData>& data) {
    const int fd = OpenRegularFile(nativePath);
    if (fd < 0) return Read::Missing;
    struct stat st {};
    Read result = Read::Missing;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        result = Read::NotASound;
        if (size <= kMaxSoundBytes) {
            void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            WavInfo info;
            const bool isSound =
                map != MAP_FAILED && ParseWav(static_cast<const uint8_t*>(map), size, info);
            if (map != MAP_FAILED) ::munmap(map, size);
            if (isSound) {
                data = std::make_unique<SoundData>(static_cast<size_t>(size));
                size_t got = 0;
                while (got < size) {
                    const ssize_t n =
                        ::pread(fd, data->data() + got, size - got, static_cast<off_t>(got));
                    if (n <= 0) break;
                    got += static_cast<size_t>(n);
                }
                // A file that shrank meanwhile keeps what was read.
                data->Shrink(got);
                result = got ? Read::Ok : Read::Missing;
            }
        }
    }
    ::close(fd);
    return result;
}

// Float samples beyond +36 dBFS (or not numbers) are no sound anyone recorded: such
// a file would reach the line as full-scale noise. A float file that only peaks a
// little over full scale is fine; it is clipped in the mix.
bool PlausibleSamples(const uint8_t* bytes, size_t size, const WaveFormat& format) {
    if (format.formatTag != kFormatFloat) return true;
    constexpr float kMost = 63.1f;  // +36 dBFS
    for (size_t at = 0; at + 4 <= size; at += 4) {
        float v;
        std::memcpy(&v, bytes + at, 4);
        if (!(std::fabs(v) <= kMost)) return false;
    }
    return true;
}

}  // namespace

bool ReadSound(const std::string& path, LoadedSound& out) {
    out = LoadedSound{};
    // Linux names are case-sensitive: the name is opened as given and only a
    // lowercased copy is tested for ".mp3".
    if (!StaysUnder(path, "")) {
        out.error = Message("Unable to locate file (%s)", path);
        return false;
    }
    const std::string native = NativePath(path);
    std::unique_ptr<SoundData> data;
    try {
        if (AsciiLower(path).find(".mp3") != std::string::npos) {
            // The decoder hands back what it wrote to "tmp.wav": no need to read it again.
            switch (DecodeMp3(native, kTempWav, &data)) {
                case Mp3Result::Ok:
                    break;
                case Mp3Result::Unreadable:
                    out.error = Message("Unable to locate file (%s)", path);
                    out.missingMp3 = true;
                    return false;
                case Mp3Result::NoAudio:
                    out.error = Message("Unable to decode file (%s)", path);
                    return false;
                case Mp3Result::TooLong:
                    out.error = Message(
                        "Unable to decode file (%s): decoded it would be longer than the 4 GB "
                        "a sound may take",
                        path);
                    return false;
            }
        } else {
            switch (ReadWavFile(native, data)) {
                case Read::Ok:
                    break;
                case Read::Missing:
                    out.error = Message("Unable to locate file (%s)", path);
                    return false;
                case Read::NotASound:
                    out.error = Message("Unsupported audio format (%s)", path);
                    return false;
            }
        }
    } catch (const std::bad_alloc&) {
        Log("error - out of memory loading %s", path.c_str());
        out.error = Message("Unable to decode file (%s)", path);
        return false;
    }
    const size_t fileSize = data->fileSize();
    if (!ParseWav(data->data(), fileSize, out.info)) {
        out.error = Message("Unsupported audio format (%s)", path);
        return false;
    }
    if (!PlausibleSamples(data->data() + out.info.dataOffset, out.info.dataSize, out.info.format)) {
        Log("error - %s holds float samples far past full scale: damaged", path.c_str());
        out.error = Message("Unable to decode file (%s)", path);
        return false;
    }
    out.size = static_cast<uint32_t>(fileSize);  // both readers keep it under 4 GiB
    out.data = std::move(data);
    return true;
}

void MakeSoundBuffer(const LoadedSound& sound, const std::string& path, SoundDevice& device,
                     std::unique_ptr<SoundBuffer>& bufferOut, MessageBox& boxes) {
    bufferOut.reset();
    // The buffer is as long as the file; it plays the data chunk in place, then
    // silence for the rest of its length.
    const uint32_t code =
        device.CreateSoundBufferOver(sound.info.format, sound.size, sound.data,
                                     sound.info.dataOffset, sound.info.dataSize, bufferOut);
    if (code != DS_OK) {
        bufferOut.reset();
        ShowDirectSoundError(boxes, code);
        boxes.Show(Message("CreateSoundBuffer failed for %s", path), "LoadSound Error");
    }
}

bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundData>& dataOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes) {
    LoadedSound sound;
    if (!ReadSound(path, sound)) {
        if (!sound.missingMp3) {
            bufferOut.reset();
            dataOut.reset();
        }
        boxes.Show(sound.error, "Error");
        return false;
    }
    bufferOut.reset();
    sizeOut = sound.size;
    if (device) MakeSoundBuffer(sound, path, *device, bufferOut, boxes);
    dataOut = sound.data;
    return true;
}

}  // namespace tw
