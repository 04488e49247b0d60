#pragma once

// CHtmlCtrl: a page view for the help and playlist windows. It shows a document
// of the working folder; an XML document is first transformed by the stylesheet
// it names. The read and the transform run on a thread of the view's own and the
// page comes back to the view's thread; a view that is gone by then is not
// touched. A link beginning with "app:" (in any letter case) is not followed:
// what follows the prefix goes to OnAppLink. Other links are followed in the view.

#include <QTextBrowser>
#include <functional>
#include <memory>
#include <string>

#include "MessageThread.h"

namespace tw {

class CHtmlCtrl : public QTextBrowser {
  public:
    explicit CHtmlCtrl(QWidget* parent = nullptr);
    ~CHtmlCtrl() override;  // waits for a page being made; it is then dropped

    // `name`: a stored name relative to the working folder, at most 511 characters.
    void SetDocument(const std::string& name);
    // Whether the page of the last SetDocument has arrived.
    bool loaded() const { return loaded_; }
    // Links "app:<rest>" hand <rest> here; unset, they are only not followed.
    std::function<void(const std::string&)> OnAppLink;

  protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

  private:
    void Show(uint64_t ticket, const std::string& html, const std::string& path);

    bool loaded_ = false;
    uint64_t ticket_ = 0;
    std::unique_ptr<MessageThread> loader_;  // last: gone first
};

}  // namespace tw
