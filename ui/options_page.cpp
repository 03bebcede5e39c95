#include "ui/options_page.h"

#include <QLineEdit>

#include <limits>

#include "ui/ui_string_table.h"
#include "desktop/message_box.h"

namespace kestrel {
namespace {

// Digits with an optional sign, blanks around them; the value as a wide number.
std::optional<long long> ScanNumber(const QString& text, bool allowMinus) {
  const QString t = text.trimmed();
  int i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
    negative = t[i] == QLatin1Char('-');
    if (negative && !allowMinus) return std::nullopt;
    ++i;
  }
  if (i >= t.size()) return std::nullopt;
  long long value = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
    if (value > (1LL << 33)) return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<std::uint32_t> ScanUnsigned(const QString& text) {
  auto v = ScanNumber(text, false);
  if (!v || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::int32_t> ScanSigned(const QString& text) {
  auto v = ScanNumber(text, true);
  if (!v || *v > std::numeric_limits<std::int32_t>::max() ||
      *v < std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

COptionsPage::COptionsPage(const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {}

void COptionsPage::Activate() {
  ExchangeToControls();
  if (firstActivation_) {
    firstActivation_ = false;
    OnInitPage();
  }
}

bool COptionsPage::Deactivate() { return ExchangeToMembers(); }

std::optional<std::uint32_t> COptionsPage::ReadUnsigned(QLineEdit* field) {
  auto v = ScanUnsigned(field->text());
  if (!v) Refuse(field, IDS_ENTER_POSITIVE_INTEGER);
  return v;
}

std::optional<std::int32_t> COptionsPage::ReadSigned(QLineEdit* field) {
  auto v = ScanSigned(field->text());
  if (!v) Refuse(field, IDS_ENTER_INTEGER);
  return v;
}

void COptionsPage::Refuse(QLineEdit* field, UiStringId stringId) {
  ShowMessageBox(this, QString::fromUtf8(LoadUiString(stringId)));
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
}

}  // namespace kestrel
