#include "desktop/message_box.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace kestrel {
namespace {

QString& Caption() {
  static QString caption;
  return caption;
}

}  // namespace

void SetMessageBoxCaption(const QString& caption) { Caption() = caption; }

QString MessageBoxCaption() { return Caption().isEmpty() ? QCoreApplication::applicationName() : Caption(); }

BoxResult ShowMessageBox(QWidget* parent, const QString& text, BoxButtons buttons, BoxIcon icon) {
  QMessageBox::Icon shown = QMessageBox::Warning;
  switch (icon) {
    case BoxIcon::kDefault: shown = buttons == BoxButtons::kYesNo ? QMessageBox::Question : QMessageBox::Warning; break;
    case BoxIcon::kInformation: shown = QMessageBox::Information; break;
    case BoxIcon::kExclamation: shown = QMessageBox::Warning; break;
    case BoxIcon::kStop: shown = QMessageBox::Critical; break;
    case BoxIcon::kQuestion: shown = QMessageBox::Question; break;
  }
  QMessageBox box(shown, MessageBoxCaption(), text,
                  buttons == BoxButtons::kYesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
  if (buttons == BoxButtons::kYesNo) {
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  }
  const int pressed = box.exec();
  if (buttons == BoxButtons::kOk) return BoxResult::kOk;
  return pressed == QMessageBox::Yes ? BoxResult::kYes : BoxResult::kNo;
}

}  // namespace kestrel
