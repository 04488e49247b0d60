#pragma once

// Message boxes on QMessageBox, owned by the window that asks. Main thread only.

#include <QPointer>
#include <QWidget>

#include "MessageBox.h"

namespace tw {

class QtMessageBox : public MessageBox {
  public:
    explicit QtMessageBox(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

  protected:
    MbResult DoShow(const std::string& text, const std::string& caption, MbButtons buttons,
                    MbIcon icon) override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace tw
