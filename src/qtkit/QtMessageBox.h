#pragma once

// Message boxes on QMessageBox, owned by the window that asks. Main thread only.

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "MessageBox.h"

namespace tw {

class QtMessageBox : public MessageBox {
  public:
    explicit QtMessageBox(QWidget* owner = nullptr) : owner_(owner) {}
    ~QtMessageBox() override;
    void SetOwner(QWidget* owner) { owner_ = owner; }
    // The open notice box, if any (tests look at it).
    QMessageBox* notice() const { return notice_.data(); }

    // Sets a box's text. Long paths carry no spaces: zero-width break
    // opportunities after each slash let them wrap inside the box instead of
    // running off it; a screen reader gets the text without them (the label's
    // name and the box's description).
    static void SetText(QMessageBox& box, const QString& text);

  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override;
    void DoNotify(const std::string& text, const std::string& caption) override;

  private:
    QPointer<QWidget> owner_;
    QPointer<QMessageBox> notice_;
    int noticeLines_ = 0;
};

}  // namespace tw
