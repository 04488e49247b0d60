#include "ConfigTextReader.h"

#include "AtomicFile.h"
#include "TrackList.h"

namespace tw {

bool ConfigTextReader::Open(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        SetText({});
        return false;
    }
    SetText(std::move(text));
    return true;
}

void ConfigTextReader::SetText(std::string text) {
    text_ = std::move(text);
    pos_ = 0;
    cut_ = false;
}

std::string ConfigTextReader::ReadLine() {
    const size_t start = pos_;
    while (!AtEnd() && !AtLineEnd() && pos_ - start < kMaxNameLength) ++pos_;
    cut_ = !AtEnd() && !AtLineEnd();
    if (cut_) {
        // Stop before a character whose bytes would be split by the cut.
        while (pos_ > start && (static_cast<unsigned char>(text_[pos_]) & 0xC0) == 0x80) --pos_;
    }
    return text_.substr(start, pos_ - start);
}

void ConfigTextReader::SkipLine() {
    while (!AtEnd() && !AtLineEnd()) ++pos_;
}

void ConfigTextReader::NextLine() {
    SkipLine();
    while (!AtEnd() && AtLineEnd()) ++pos_;
}

}  // namespace tw
