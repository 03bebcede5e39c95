#include "ui/options_page.h"

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

void COptionsPage::Refuse(QLineEdit* field, StringId stringId) {
  ShowMessageBox(this, QString::fromUtf8(LoadString(stringId)));
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
}

}  // namespace kestrel
