#include "ElidedLabel.h"

#include <QAccessible>
#include <QResizeEvent>

namespace tw {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    // As wide as the layout gives, never wider: the window does not grow with a
    // long file name, and the height never changes.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumWidth(0);
}

void ElidedLabel::setFullText(const QString& text, const QString& name) {
    if (text == full_) return;
    full_ = text;
    setToolTip(text);
    const QString said = name.isEmpty() ? text : name;
    if (said != accessibleName()) setAccessibleName(said);  // announced as a name change
    setAccessibleDescription(text);                          // read on request
    Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, contentsRect().width()));
    if (shown != text()) setText(shown);
}

}  // namespace tw
