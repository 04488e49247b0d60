#pragma once

// A one-line label that neither wraps nor widens its window: a text that does not
// fit is cut with an ellipsis and shown whole in its tooltip. Screen readers get
// the whole text as its accessible name, and hear when it changes. Main thread.

#include <QLabel>

namespace tw {

class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString full_;
};

}  // namespace tw
