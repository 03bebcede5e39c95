// COptionsPage: what every page of the options sheet shares. A page shows the
// values of a settings record in its controls (Load) and writes the controls
// back into a record (Store); the controls are the page's only copy. Store
// refuses a number field that holds no number: the refusal text is shown, the
// focus goes back to the field, the record is left untouched and the sheet
// keeps the page in front. A text held to a form of its row (a host, a port
// range) is refused the same way.
//
// Load and Store may be called at any time; no failure leaves the page.
// User-interface thread only.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/service_settings.h"
#include "core/string_table.h"

class QEvent;
class QLineEdit;

namespace kestrel {

class COptionsPage : public QWidget {
  Q_OBJECT

 public:
  COptionsPage(const QString& caption, QWidget* parent);

  // The tab's text.
  const QString& Caption() const { return caption_; }

  // Shows the page's values of `settings` (and, on the table pages, the
  // table's rows as the database has them now).
  virtual void Load(const ServiceSettings& settings) = 0;
  // Writes the page's values into `settings`. False after a refusal, with
  // `settings` unchanged.
  virtual bool Store(ServiceSettings& settings) = 0;

 protected:
  // Number fields: "%u" and "%d" as the settings have always been typed
  // (blanks around the number allowed, nothing else). On failure the
  // string-table text is shown, the field focused and selected, and nullopt
  // returned.
  std::optional<std::uint32_t> ReadUnsigned(QLineEdit* field);
  std::optional<std::int32_t> ReadSigned(QLineEdit* field);
  // The number of the setting `member` (a row of core/setting_table.h): read
  // as above ("%u" where the row takes no negative number), then held to the
  // row's range, whose refusal names the setting and its range.
  std::optional<std::int32_t> ReadSetting(QLineEdit* field, std::string_view member);
  // The text of the setting `member` held to its row's form (an address, a
  // port range); the refusal names the setting and what it takes.
  std::optional<std::string> ReadSettingText(QLineEdit* field, std::string_view member);
  // True for a focus-out that leaves a field for another control of the
  // window; losing the focus to another application or to a popup is not
  // leaving the field.
  static bool LeavesField(const QEvent* event);

 private:
  void Refuse(QLineEdit* field, const QString& text);

  QString caption_;
};

}  // namespace kestrel
