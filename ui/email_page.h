// CEmailPage: the "Email" page of the options sheet: sender, subject template,
// SMTP server with port, connection security, extra CA file and login, and
// the attachment format with optional scaling. User name and password can be
// edited only with a login method chosen, the width only with scaling on.
// Choosing STARTTLS or SSL/TLS while the port is the plain default (or empty)
// proposes the port of that security (kSecurityPorts).
// With "OAuth 2.0" chosen, "Sign in…" runs the code grant in the desktop's
// browser (ui/oauth_sign_in.h) with the page's values over the loaded ones;
// the page shows who is signed in, and "Sign out" forgets the tokens. A
// device or client grant signs in with kestrel-admin, which the page names.
//
// Store refuses a port that is no unsigned number and a width that is no
// whole number (COptionsPage). User-interface thread only.
#pragma once

#include "ui/oauth_sign_in.h"
#include "ui/options_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

class CDigitsEdit;

class CEmailPage : public COptionsPage {
  Q_OBJECT

 public:
  explicit CEmailPage(QWidget* parent = nullptr);

  void Load(const ServiceSettings& settings) override;
  bool Store(ServiceSettings& settings) override;

  // Where the sign-in sends the authorization URL (the browser by default).
  void SetUrlOpener(COAuthSignIn::UrlOpener open) { signIn_.SetUrlOpener(std::move(open)); }

 signals:
  // New tokens are stored: mail waiting in the queue can go now.
  void SignedIn();

 public slots:
  void OnSecurityChosen(int index);
  void OnBrowseCAFile();
  // Starts the sign-in, or cancels the one running.
  void OnSignIn();
  void OnSignOut();

 private:
  void UpdateEnabledFields();
  void OnSignInFinished(bool signedIn, const QString& text);
  // "Signed in as …" or "Not signed in", from the token file.
  void ShowSignInState();

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
  QPushButton* signInButton_;
  QPushButton* signOutButton_;
  QLabel* signInState_;
  bool tokensHeld_ = false;
  ServiceSettings loaded_;  // the settings the page has no field for (the OAuth rows)
  COAuthSignIn signIn_;
};

}  // namespace kestrel
