#include "LoadSound.h"

#include <cstdio>
#include <filesystem>

#include "Mp3Decoder.h"
#include "Paths.h"
#include "WavParser.h"

namespace tw {
namespace {

constexpr const char* kTempWav = "tmp.wav";

void ShowError(MessageBox& boxes, const char* format, const std::string& path,
               const char* caption) {
    char text[600];
    std::snprintf(text, sizeof text, format, path.c_str());
    boxes.Show(text, caption);
}

// The whole file plus a terminating zero byte; null when missing, unreadable or empty.
std::unique_ptr<SoundData> ReadSoundFile(const std::string& nativePath) {
    std::FILE* f = std::fopen(nativePath.c_str(), "rb");
    if (!f) return nullptr;
    std::unique_ptr<SoundData> data;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0 && static_cast<unsigned long>(size) < 0xFFFFFFFFul &&
            std::fseek(f, 0, SEEK_SET) == 0) {
            data = std::make_unique<SoundData>(static_cast<size_t>(size));
            if (std::fread(data->data(), 1, static_cast<size_t>(size), f) !=
                static_cast<size_t>(size))
                data.reset();
        }
    }
    std::fclose(f);
    return data;
}

}  // namespace

bool LoadSound(std::unique_ptr<SoundBuffer>& bufferOut, std::shared_ptr<SoundData>& dataOut,
               const std::string& path, uint32_t& sizeOut, SoundDevice* device, MessageBox& boxes) {
    // Linux names are case-sensitive: the name is opened as given and only a
    // lowercased copy is tested for ".mp3".
    std::string working = NativePath(path);
    std::string shownName = path;
    std::unique_ptr<SoundData> data;
    if (AsciiLower(path).find(".mp3") != std::string::npos) {
        std::error_code ec;
        if (!std::filesystem::exists(working, ec)) {
            ShowError(boxes, "Unable to locate file (%s)", path, "Error");
            return false;
        }
        // The decoder hands back what it wrote to "tmp.wav": no need to read it again.
        if (!CbMpegAudioDecoder(working, kTempWav, &data)) {
            bufferOut.reset();
            dataOut.reset();
            ShowError(boxes, "Unable to decode file (%s)", path, "Error");
            return false;
        }
        working = kTempWav;
        shownName = kTempWav;
    }

    if (!data) data = ReadSoundFile(working);
    if (!data) {
        bufferOut.reset();
        dataOut.reset();
        ShowError(boxes, "Unable to locate file (%s)", shownName, "Error");
        return false;
    }
    const size_t fileSize = data->fileSize();
    WavInfo info;
    if (!ParseWav(data->data(), fileSize, info)) {
        bufferOut.reset();
        dataOut.reset();
        ShowError(boxes, "Unsupported audio format (%s)", path, "Error");
        return false;
    }
    dataOut = std::move(data);
    sizeOut = static_cast<uint32_t>(fileSize);
    bufferOut.reset();
    if (!device) return true;

    // The buffer is as long as the file; it plays the data chunk in place, then
    // silence for the rest of its length.
    const uint32_t code = device->CreateSoundBufferOver(info.format, sizeOut, dataOut,
                                                        info.dataOffset, info.dataSize, bufferOut);
    if (code != DS_OK) {
        ShowDirectSoundError(boxes, code);
        ShowError(boxes, "CreateSoundBuffer failed for %s", path, "LoadSound Error");
        return true;
    }
    return true;
}

}  // namespace tw
