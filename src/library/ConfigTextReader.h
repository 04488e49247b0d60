#pragma once

// A text cursor over a whole file, accepting LF, CR LF and CR line ends. A zero
// byte is kept in its line (the reader of a list leaves such a line out), so
// that one damaged line never ends the whole file.

#include <string>

namespace tw {

class ConfigTextReader {
  public:
    // False when the file cannot be read (missing, unreadable, not a regular file).
    bool Open(const std::string& path);
    // Reads from text held in memory instead of a file.
    void SetText(std::string text);
    // Copies up to 255 bytes of the current line, never cutting a UTF-8 character
    // in two; the cursor stops on the line end, or where the copy stopped in a
    // longer line (then LastLineWasCut is true).
    std::string ReadLine();
    bool LastLineWasCut() const { return cut_; }
    void SkipLine();
    // SkipLine, then past every line end: the start of the next non-empty line.
    void NextLine();
    bool AtEnd() const { return pos_ >= text_.size(); }

  private:
    bool AtLineEnd() const { return text_[pos_] == '\n' || text_[pos_] == '\r'; }
    std::string text_;
    size_t pos_ = 0;
    bool cut_ = false;
};

}  // namespace tw
