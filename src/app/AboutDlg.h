#pragma once

#include <QDialog>

namespace tw {

// "About Tonewell": the icon, the version and one line about the program.
class AboutDlg : public QDialog {
  public:
    explicit AboutDlg(QWidget* parent = nullptr);
};

}  // namespace tw
