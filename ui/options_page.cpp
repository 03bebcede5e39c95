#include "ui/options_page.h"

#include <QFocusEvent>
#include <QLineEdit>

#include "core/number_text.h"
#include "core/string_table.h"
#include "desktop/message_box.h"

namespace kestrel {

COptionsPage::COptionsPage(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {}

std::optional<std::uint32_t> COptionsPage::ReadUnsigned(QLineEdit* field) {
  auto v = ScanUnsigned(field->text().toStdString());
  if (!v) Refuse(field, IDS_ENTER_POSITIVE_INTEGER);
  return v;
}

std::optional<std::int32_t> COptionsPage::ReadSigned(QLineEdit* field) {
  auto v = ScanSigned(field->text().toStdString());
  if (!v) Refuse(field, IDS_ENTER_INTEGER);
  return v;
}

bool COptionsPage::LeavesField(const QEvent* event) {
  if (event->type() != QEvent::FocusOut) return false;
  const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

void COptionsPage::Refuse(QLineEdit* field, StringId stringId) {
  ShowMessageBox(this, QString::fromUtf8(LoadString(stringId)));
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
}

}  // namespace kestrel
