// ForwardingEditDialog: the small modal dialog of both forwarding editors, a
// number (digits from the keyboard) and an e-mail address. Its mode decides
// caption and number label: 0 new forwarding, 1 edit forwarding (callers'
// numbers), 2 and 3 add and edit on the MSN page. The dialog itself checks
// nothing; the pages check what it returns.
//
// User-interface thread only.
#pragma once

#include <QDialog>
#include <QString>

#include "core/forwarding_rules.h"  // IsValidEmailAddress, which the pages apply

class QLabel;
class QLineEdit;

namespace kestrel {

class CDigitsEdit;

class ForwardingEditDialog : public QDialog {
  Q_OBJECT

 public:
  enum Mode : int { kNewForwarding = 0, kEditForwarding = 1, kAddMsn = 2, kEditMsn = 3 };

  explicit ForwardingEditDialog(QWidget* parent = nullptr);

  // Sets caption and label for `mode` (0 to 3).
  void SetMode(int mode);
  int Mode() const { return mode_; }

  // Members -> fields, run modally, fields -> members on OK.
  int exec() override;

  QString numberText;
  QString addressText;

 private:
  int mode_ = kNewForwarding;
  QLabel* numberLabel_;
  CDigitsEdit* number_;
  QLineEdit* address_;
};

}  // namespace kestrel
