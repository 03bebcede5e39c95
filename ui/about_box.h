// CAboutBox: the about box "About Kestrel": the program icon, the version
// line and an OK button. Nothing here fails; user-interface thread only.
#pragma once

#include <QDialog>

namespace kestrel {

class CAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutBox(QWidget* parent = nullptr);
};

}  // namespace kestrel
