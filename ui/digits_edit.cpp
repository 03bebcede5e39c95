#include "ui/digits_edit.h"

#include <QApplication>
#include <QKeyEvent>

#include "core/forwarding_rules.h"

namespace kestrel {

void CDigitsEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!command && !text.isEmpty() && text.at(0).isPrint()) {
    for (QChar c : text) {
      if (c.unicode() > 0x7F || !IsFaxNumberDigit(static_cast<char>(c.unicode()))) {
        QApplication::beep();
        event->accept();
        return;
      }
    }
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace kestrel
