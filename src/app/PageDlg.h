#pragma once

// The help and playlist windows: a page view with OK (and, for the playlist,
// Print...). Both show a document of the working folder.

#include <QDialog>
#include <string>

class QPrinter;
class QPushButton;

namespace tw {

class CHtmlCtrl;

class PageDlg : public QDialog {
  public:
    CHtmlCtrl* view() const { return view_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* printButton() const { return print_; }
    // Prints the page as it is shown (the Print... button asks for the printer).
    void PrintTo(QPrinter& printer);

  protected:
    // `place`: the key its size and position are kept under.
    PageDlg(const QString& title, const std::string& document, bool printable, QSize size,
            const QString& place, QWidget* parent);

  private:
    CHtmlCtrl* view_;
    QPushButton* ok_;
    QPushButton* print_ = nullptr;
};

// "Tonewell Help": "help\help.htm".
class HelpDlg : public PageDlg {
  public:
    explicit HelpDlg(QWidget* parent = nullptr);
};

// "Tonewell Playlist": "playlist.xml", which the caller writes just before.
class PlaylistDlg : public PageDlg {
  public:
    explicit PlaylistDlg(QWidget* parent = nullptr);
};

// Copies an installed data file (help page, stylesheet) into the working folder
// when the folder has none; false when neither has it.
bool EnsureDataFile(const std::string& relative);

}  // namespace tw
