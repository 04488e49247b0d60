#pragma once

// Modal message boxes. The window shows Qt boxes, headless and render runs print
// them, tests record them and answer what was queued. Main thread only.

#include <deque>
#include <string>
#include <vector>

namespace tw {

enum class MbButtons { Ok, YesNo, YesNoCancel };
enum class MbIcon { None, Exclamation };
enum class MbResult { Ok, Yes, No, Cancel };

class MessageBox {
  public:
    virtual ~MessageBox() = default;
    MbResult Show(const std::string& text, const std::string& caption,
                  MbButtons buttons = MbButtons::Ok, MbIcon icon = MbIcon::None) {
        return DoShow(text, caption, buttons, icon);
    }
    // A box with OK only that does not wait for it: the caller goes on at once.
    // Where boxes are windows, notices that come while one is open join it as one
    // list. Boxes raised while the player is inside an action are notices.
    void Notify(const std::string& text, const std::string& caption) { DoNotify(text, caption); }

  protected:
    virtual MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                            MbIcon icon) = 0;
    // Where a box never waits (printed, recorded), a notice is a box.
    virtual void DoNotify(const std::string& text, const std::string& caption) {
        DoShow(text, caption, MbButtons::Ok, MbIcon::None);
    }
};

// Prints "caption: text" on stderr and answers OK, or Yes where Yes is offered.
class ConsoleMessageBox : public MessageBox {
  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override;
};

// Records every box; answers from a queue, or OK/Yes when the queue is empty.
class RecordingMessageBox : public MessageBox {
  public:
    struct Box {
        std::string text;
        std::string caption;
        MbButtons buttons;
        MbIcon icon;
    };
    void QueueAnswer(MbResult answer) { answers_.push_back(answer); }
    const std::vector<Box>& boxes() const { return boxes_; }
    void Clear() { boxes_.clear(); }

  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override;

  private:
    std::vector<Box> boxes_;
    std::deque<MbResult> answers_;
};

}  // namespace tw
