#include "PageDlg.h"

#include <QHBoxLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>

#include "HtmlView.h"
#include "Log.h"
#include "Skin.h"
#include "WindowPlace.h"
#include "WorkingFolder.h"

namespace tw {

PageDlg::PageDlg(const QString& title, const std::string& document, bool printable, QSize size,
                 const QString& place, QWidget* parent)
    : QDialog(parent) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(title);
    view_ = new CHtmlCtrl(this);
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    if (printable) {
        print_ = new QPushButton(tr("&Print..."), this);
        print_->setAutoDefault(false);
        buttons->addWidget(print_);
        connect(print_, &QPushButton::clicked, this, [this] {
            QPrinter printer;
            QPrintDialog dialog(&printer, this);
            if (dialog.exec() == QDialog::Accepted) PrintTo(printer);
        });
    }
    buttons->addStretch();
    buttons->addWidget(ok_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(view_, 1);
    top->addLayout(buttons);
    resize(size);
    KeepPlace(this, place);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    view_->SetDocument(document);
}

void PageDlg::PrintTo(QPrinter& printer) {
    view_->print(&printer);
}

HelpDlg::HelpDlg(QWidget* parent)
    : PageDlg(tr("Tonewell Help"), (EnsureDataFile("help/help.htm"), "help\\help.htm"), false,
              QSize(680, 560), QStringLiteral("help"), parent) {}

PlaylistDlg::PlaylistDlg(QWidget* parent)
    : PageDlg(tr("Tonewell Playlist"), (EnsureDataFile("htm/playlist.xsl"), "playlist.xml"), true,
              QSize(600, 560), QStringLiteral("playlist"), parent) {}

bool EnsureDataFile(const std::string& relative) {
    std::error_code ec;
    if (std::filesystem::exists(relative, ec)) return true;
    const std::filesystem::path installed = std::filesystem::path(InstalledDataDir()) / relative;
    if (!std::filesystem::exists(installed, ec)) return false;
    std::filesystem::create_directories(std::filesystem::path(relative).parent_path(), ec);
    if (!std::filesystem::copy_file(installed, relative, ec)) {
        Log("error - cannot copy %s (%s)", installed.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

}  // namespace tw
