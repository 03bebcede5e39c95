#include "ui/options_page.h"

#include <QFocusEvent>
#include <QLineEdit>

#include "core/number_text.h"
#include "core/setting_table.h"
#include "core/string_table.h"
#include "desktop/message_box.h"

namespace kestrel {

COptionsPage::COptionsPage(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {}

std::optional<std::uint32_t> COptionsPage::ReadUnsigned(QLineEdit* field) {
  auto v = ScanUnsigned(field->text().toStdString());
  if (!v) Refuse(field, QString::fromUtf8(LoadString(IDS_ENTER_POSITIVE_INTEGER)));
  return v;
}

std::optional<std::int32_t> COptionsPage::ReadSigned(QLineEdit* field) {
  auto v = ScanSigned(field->text().toStdString());
  if (!v) Refuse(field, QString::fromUtf8(LoadString(IDS_ENTER_INTEGER)));
  return v;
}

std::optional<std::int32_t> COptionsPage::ReadSetting(QLineEdit* field, std::string_view member) {
  const SettingRow& row = *FindSetting(member);
  const bool scanned = row.min >= 0 ? ReadUnsigned(field).has_value() : ReadSigned(field).has_value();
  if (!scanned) return std::nullopt;
  auto value = ParseSetting(row, field->text().toStdString(), SettingSyntax::kTyped);
  if (!value) {
    Refuse(field, QString::fromStdString(value.Error().text));
    return std::nullopt;
  }
  return std::get<std::int32_t>(*value);
}

std::optional<std::string> COptionsPage::ReadSettingText(QLineEdit* field, std::string_view member) {
  auto value = ParseSetting(*FindSetting(member), field->text().toStdString(), SettingSyntax::kTyped);
  if (!value) {
    Refuse(field, QString::fromStdString(value.Error().text));
    return std::nullopt;
  }
  return std::get<std::string>(*value);
}

bool COptionsPage::LeavesField(const QEvent* event) {
  if (event->type() != QEvent::FocusOut) return false;
  const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
  return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

void COptionsPage::Refuse(QLineEdit* field, const QString& text) {
  ShowMessageBox(this, text);
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
}

}  // namespace kestrel
