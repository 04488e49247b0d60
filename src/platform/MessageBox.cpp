#include "MessageBox.h"

#include <cstdio>

namespace tw {

static MbResult DefaultAnswer(MbButtons buttons) {
    return buttons == MbButtons::Ok ? MbResult::Ok : MbResult::Yes;
}

MbResult ConsoleMessageBox::DoShow(const std::string& text, const std::string& caption,
                                   MbButtons buttons, MbIcon) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return DefaultAnswer(buttons);
}

MbResult RecordingMessageBox::DoShow(const std::string& text, const std::string& caption,
                                     MbButtons buttons, MbIcon icon) {
    boxes_.push_back({text, caption, buttons, icon});
    if (answers_.empty()) return DefaultAnswer(buttons);
    MbResult answer = answers_.front();
    answers_.pop_front();
    return answer;
}

}  // namespace tw
