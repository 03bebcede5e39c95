// CAboutDlg: the about box (dialog 100, "About Kestrel"): the program icon,
// the version line and an OK button.
#pragma once

#include <QDialog>

namespace kestrel {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace kestrel
