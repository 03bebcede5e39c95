// CDlgOptionsPageEMail: the "Email" page of the options sheet: sender, subject
// template, SMTP server with port, connection security, extra CA file and
// login, and the attachment format with optional scaling. User name and
// password can be edited only with a login method chosen, the width only with
// scaling on. Choosing STARTTLS or SSL/TLS while the port is the plain 25 (or
// empty) proposes the submission port of that security (587 or 465).
//
// User-interface thread only.
#pragma once

#include <string>

#include "core/service_settings.h"
#include "ui/options_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace kestrel {

class CDigitsEdit;

class CDlgOptionsPageEMail : public COptionsPage {
  Q_OBJECT

 public:
  explicit CDlgOptionsPageEMail(QWidget* parent = nullptr);

  void LoadFrom(const ServiceSettings& s);
  void StoreInto(ServiceSettings& s) const;

  void ExchangeToControls() override;
  bool ExchangeToMembers() override;

  void OnAuthenticationChanged(int index);
  void OnScalePictureClicked();
  void OnSecurityChanged(int index);
  void OnBrowseCAFile();

  // What the first-run sheet proposes: STARTTLS and one PDF per fax.
  void ProposeFirstRunValues();

  // Members. Before the Settings command fills them they hold the page's
  // start values: empty texts, 0, the subject "Senderkennung = TSID" and no
  // graphic format (-1).
  std::string Name;
  std::string Address;
  std::string Header = "Senderkennung = TSID";
  std::string SMTPServer;
  std::int32_t SMTPPort = 0;
  std::int32_t SMTPSecurity = 0;
  std::string SMTPCAFile;
  std::int32_t AuthenticationMethod = 0;
  std::string SMTP_User;
  std::string SMTP_Pass;
  std::int32_t ImageFormat = -1;
  std::int32_t UseImageScale = 0;
  std::int32_t ImageScaleX = 0;

 protected:
  void OnInitPage() override;

 private:
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
