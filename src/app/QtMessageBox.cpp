#include "QtMessageBox.h"

#include <QMessageBox>

#include "Skin.h"

namespace tw {

MbResult QtMessageBox::DoShow(const std::string& text, const std::string& caption,
                              MbButtons buttons, MbIcon icon) {
    QMessageBox box(owner_.data());
    ApplySkin(&box, kSkinDialog);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setIcon(icon == MbIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    switch (buttons) {
        case MbButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MbButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
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

}  // namespace tw
