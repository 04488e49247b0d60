#pragma once

// A text cursor over a whole file, accepting LF, CR LF and CR line ends. The text
// ends at the file's end or at its first zero byte.

#include <string>

namespace tw {

class ConfigTextReader {
  public:
    // False when the file cannot be read.
    bool Open(const std::string& path);
    // Copies up to 255 characters of the current line; the cursor stops on the line
    // end (or after the 255th character of a longer line).
    std::string ReadLine();
    void SkipLine();
    // SkipLine, then past every line end: the start of the next non-empty line.
    void NextLine();
    bool AtEnd() const { return pos_ >= text_.size(); }

  private:
    bool AtLineEnd() const { return text_[pos_] == '\n' || text_[pos_] == '\r'; }
    std::string text_;
    size_t pos_ = 0;
};

}  // namespace tw
