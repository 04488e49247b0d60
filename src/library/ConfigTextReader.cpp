#include "ConfigTextReader.h"

#include "AtomicFile.h"
#include "TrackList.h"

namespace tw {

bool ConfigTextReader::Open(const std::string& path) {
    pos_ = 0;
    if (!ReadWholeFile(path, text_)) {
        text_.clear();
        return false;
    }
    const size_t nul = text_.find('\0');
    if (nul != std::string::npos) text_.resize(nul);
    return true;
}

std::string ConfigTextReader::ReadLine() {
    std::string line;
    while (!AtEnd() && !AtLineEnd() && line.size() < kMaxNameLength) line += text_[pos_++];
    return line;
}

void ConfigTextReader::SkipLine() {
    while (!AtEnd() && !AtLineEnd()) ++pos_;
}

void ConfigTextReader::NextLine() {
    SkipLine();
    while (!AtEnd() && AtLineEnd()) ++pos_;
}

}  // namespace tw
