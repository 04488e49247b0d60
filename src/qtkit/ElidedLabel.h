#pragma once

// A one-line label that neither wraps nor widens its window: a text that does not
// fit is cut with an ellipsis and shown whole in its tooltip. Screen readers get
// the whole text as its description, and as its name what is worth hearing when
// it changes (by default the whole text). Main thread.

#include <QLabel>

namespace tw {

class ElidedLabel : public QLabel {
  public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    // `name`: the accessible name, when not the whole text (a part that changes
    // every second would be read out every second).
    void setFullText(const QString& text, const QString& name = {});
    const QString& fullText() const { return full_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Elide();
    QString full_;
};

}  // namespace tw
