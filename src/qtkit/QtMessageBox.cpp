#include "QtMessageBox.h"

#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "Skin.h"

namespace tw {
namespace {

constexpr int kMostNoticeLines = 20;  // a longer list says how many more there were

}  // namespace

QtMessageBox::~QtMessageBox() {
    if (notice_) notice_->deleteLater();
}

void QtMessageBox::SetText(QMessageBox& box, const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    shown.replace(QLatin1Char('\\'), QStringLiteral("\\\u200B"));
    box.setText(shown);
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setAccessibleName(text);
    box.setAccessibleDescription(text);
}

MbResult QtMessageBox::DoShow(const std::string& text, const std::string& caption,
                              MbButtons buttons, MbIcon icon) {
    QMessageBox box(owner_.data());
    ApplySkin(&box, kSkinDialog);
    box.setWindowTitle(QString::fromStdString(caption));
    SetText(box, QString::fromStdString(text));
    box.setIcon(icon == MbIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    switch (buttons) {
        case MbButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MbButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            // Enter must not end music on hold by accident.
            box.setDefaultButton(QMessageBox::No);
            break;
        case MbButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MbResult::Yes;
        case QMessageBox::No:
            return MbResult::No;
        case QMessageBox::Cancel:
            return MbResult::Cancel;
        default:
            return buttons == MbButtons::Ok ? MbResult::Ok : MbResult::Cancel;
    }
}

void QtMessageBox::DoNotify(const std::string& text, const std::string& caption) {
    if (notice_) {
        // One window for all of them: the new message joins the list.
        if (++noticeLines_ <= kMostNoticeLines) {
            SetText(*notice_, notice_->accessibleDescription() + QStringLiteral("\n\n") +
                                  QString::fromStdString(text));
        } else {
            notice_->setInformativeText(
                QStringLiteral("and %1 more").arg(noticeLines_ - kMostNoticeLines));
        }
        notice_->adjustSize();
        return;
    }
    auto* box = new QMessageBox(owner_.data());
    ApplySkin(box, kSkinDialog);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowTitle(QString::fromStdString(caption));
    SetText(*box, QString::fromStdString(text));
    box->setStandardButtons(QMessageBox::Ok);
    // Shown from the loop, not here: a notice raised while the window is being
    // built then opens over the window, not wherever it would have been put.
    QTimer::singleShot(0, box, [box] { box->show(); });
    notice_ = box;
    noticeLines_ = 1;
}

}  // namespace tw
