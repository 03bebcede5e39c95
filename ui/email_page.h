// CEmailPage: the "Email" page of the options sheet: sender, subject template,
// SMTP server with port, connection security, extra CA file and login, and
// the attachment format with optional scaling. User name and password can be
// edited only with a login method chosen, the width only with scaling on.
// Choosing STARTTLS or SSL/TLS while the port is the plain default (or empty)
// proposes the port of that security (kSecurityPorts).
//
// Store refuses a port that is no unsigned number and a width that is no
// whole number (COptionsPage). User-interface thread only.
#pragma once

#include "ui/options_page.h"

class QCheckBox;
class QComboBox;

namespace kestrel {

class CDigitsEdit;

class CEmailPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CEmailPage(QWidget* parent = nullptr);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

 public slots:
  void OnSecurityChosen(int index);
  void OnBrowseCAFile();

 private:
  void UpdateEnabledFields();

  QLineEdit* name_;
  QLineEdit* address_;
  QLineEdit* header_;
  QLineEdit* server_;
  CDigitsEdit* port_;
  QComboBox* security_;
  QLineEdit* caFile_;
  QComboBox* authentication_;
  QLineEdit* user_;
  QLineEdit* password_;
  QComboBox* format_;
  QCheckBox* scale_;
  CDigitsEdit* width_;
};

}  // namespace kestrel
