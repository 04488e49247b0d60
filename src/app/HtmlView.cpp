#include "HtmlView.h"

#include <QDir>
#include <QMetaObject>
#include <QPointer>

#include "Log.h"
#include "Paths.h"
#include "XmlTransform.h"

namespace tw {

CHtmlCtrl::CHtmlCtrl(QWidget* parent)
    : QTextBrowser(parent), loader_(std::make_unique<MessageThread>()) {
    setOpenLinks(true);
    setOpenExternalLinks(false);
}

CHtmlCtrl::~CHtmlCtrl() {
    loader_.reset();  // after the join no thread can reach this view
}

void CHtmlCtrl::SetDocument(const std::string& name) {
    loaded_ = false;
    const std::string path = NativePath(name.substr(0, 511));
    const uint64_t ticket = ++ticket_;
    loader_->PostTask([this, ticket, path] {
        const PageResult page = LoadPage(path);
        // Queued to the view's thread; Qt drops it if the view is gone by then.
        QMetaObject::invokeMethod(
            this, [this, ticket, html = page.html, path] { Show(ticket, html, path); },
            Qt::QueuedConnection);
    });
}

void CHtmlCtrl::Show(uint64_t ticket, const std::string& html, const std::string& path) {
    if (ticket != ticket_) return;  // a later document was asked for
    document()->setBaseUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromStdString(path))));
    setSearchPaths({QFileInfo(QString::fromStdString(path)).absolutePath()});
    setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
    loaded_ = true;
}

void CHtmlCtrl::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
    const QByteArray url = name.toEncoded();
    if (url.size() >= 4 && url.left(4).toLower() == "app:") {
        const std::string rest = QUrl::fromPercentEncoding(url.mid(4)).toStdString();
        Log("status - app link %s", rest.c_str());
        if (OnAppLink) OnAppLink(rest);
        return;  // the page stays
    }
    QTextBrowser::doSetSource(name, type);
}

}  // namespace tw
