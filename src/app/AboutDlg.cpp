#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "Skin.h"
#include "WindowPlace.h"

namespace tw {

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(tr("About Tonewell"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/tonewell/icon.svg")).pixmap(48, 48));
    // The version as "tonewell --version" gives it.
    auto* version = new QLabel(QStringLiteral("Tonewell Version " TONEWELL_VERSION), this);
    version->setTextFormat(Qt::PlainText);
    auto* line = new QLabel(tr("Music and voice messages for callers on hold.\n"
                               "Licence: proprietary; its terms are in "
                               "/usr/share/doc/tonewell/copyright."),
                            this);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(line, 1, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    FitToScreen(this);
}

}  // namespace tw
