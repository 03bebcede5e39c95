// CDigitsEdit: a line edit that takes only digits from the keyboard. Text set
// by the program, or pasted, is taken as it is; the page checks it when it
// stores its values. Nothing here fails; user-interface thread only.
#pragma once

#include <QLineEdit>

namespace kestrel {

class CDigitsEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace kestrel
