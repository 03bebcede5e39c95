// COptionsPage: what every page of the options sheet shares. A page keeps its
// settings as members; values move between members and controls at the data
// exchange: into the controls whenever the page becomes the active one, back
// into the members when it is left and at OK. Leaving is refused when a number
// field holds no number: the refusal text is shown, the focus goes back to the
// field and the page stays.
//
// User-interface thread only.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

#include "core/string_table.h"

class QLineEdit;

namespace kestrel {

class COptionsPage : public QWidget {
  Q_OBJECT

 public:
  COptionsPage(const QString& caption, QWidget* parent);

  // The tab's text.
  const QString& Caption() const { return caption_; }

  // The sheet starts a new showing: the next activation is the first again
  // (lists are refilled and enable states set anew).
  void BeginShowing() { firstActivation_ = true; }
  // The page becomes the active one.
  void Activate();
  // The page is left or the sheet confirmed. False when a value was refused.
  bool Deactivate();
  bool WasActivated() const { return !firstActivation_; }

  // Data exchange in either direction; the "to members" direction checks the
  // number fields and returns false after showing the refusal.
  virtual void ExchangeToControls() = 0;
  virtual bool ExchangeToMembers() = 0;

 protected:
  // Runs once per showing, after the first exchange into the controls.
  virtual void OnInitPage() {}

  // Number fields: "%u" and "%d" as the old data exchange read them (blanks
  // around the number allowed, nothing else). On failure the string-table
  // text is shown, the field focused and selected, and nullopt returned.
  std::optional<std::uint32_t> ReadUnsigned(QLineEdit* field);
  std::optional<std::int32_t> ReadSigned(QLineEdit* field);

 private:
  void Refuse(QLineEdit* field, StringId stringId);

  QString caption_;
  bool firstActivation_ = true;
};

}  // namespace kestrel
