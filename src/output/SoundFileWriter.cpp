#include "SoundFileWriter.h"

#include "Paths.h"

#include <algorithm>

namespace tw {

int ContainerForName(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    const std::string ext = AsciiLower(path.substr(dot + 1));
    if (ext == "wav") return SF_FORMAT_WAV;
    if (ext == "flac") return SF_FORMAT_FLAC;
    if (ext == "ogg") return SF_FORMAT_OGG;
    if (ext == "au") return SF_FORMAT_AU;
    return 0;
}

int64_t MostSecondsFor(const std::string& path, const SoundFileFormat& format) {
    constexpr int64_t kYear = 366LL * 24 * 3600;
    const int container = ContainerForName(path);
    if (container != SF_FORMAT_AU && container != SF_FORMAT_WAV) return kYear;
    const int64_t sampleBytes = format.encoding == "float" ? 4 : format.encoding == "pcm16" ? 2 : 1;
    const int64_t perSecond = sampleBytes * format.channels * format.rate;
    return perSecond > 0 ? std::min<int64_t>(kYear, ((int64_t{1} << 32) - 1 - 64) / perSecond) : kYear;
}

SoundFileWriter::~SoundFileWriter() {
    Close();
}

bool SoundFileWriter::Open(const std::string& path, const SoundFileFormat& format,
                           std::string& why) {
    const int container = ContainerForName(path);
    if (container == 0) {
        why = path + ": unknown file type (the name must end in .wav, .flac, .ogg or .au)";
        return false;
    }
    int subtype = 0;
    if (format.encoding == "pcm16")
        subtype = container == SF_FORMAT_OGG ? SF_FORMAT_VORBIS : SF_FORMAT_PCM_16;
    else if (format.encoding == "ulaw")
        subtype = SF_FORMAT_ULAW;
    else if (format.encoding == "alaw")
        subtype = SF_FORMAT_ALAW;
    else if (format.encoding == "float")
        subtype = SF_FORMAT_FLOAT;
    else {
        why = "unknown encoding " + format.encoding + " (pcm16, ulaw, alaw or float)";
        return false;
    }
    SF_INFO info{};
    info.samplerate = format.rate;
    info.channels = format.channels;
    info.format = container | subtype;
    if (!sf_format_check(&info)) {
        why = path + ": this file type cannot hold " + format.encoding + " audio at " +
              std::to_string(format.rate) + " Hz";
        return false;
    }
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_) {
        why = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    // Floats in [-1, 1] become full-scale integers, clipped rather than wrapped.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    channels_ = format.channels;
    return true;
}

bool SoundFileWriter::Write(const float* stereo, int frames) {
    if (!file_) return false;
    const float* data = stereo;
    if (channels_ == 1) {
        mono_.resize(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i) mono_[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
        data = mono_.data();
    }
    return sf_writef_float(file_, data, frames) == frames;
}

bool SoundFileWriter::Close() {
    if (!file_) return true;
    const bool ok = sf_close(file_) == 0;
    file_ = nullptr;
    return ok;
}

}  // namespace tw
