#include "ui/email_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstddef>

#include "core/setting_choices.h"
#include "oauth/token_store.h"
#include "platform/app_folder.h"
#include "ui/digits_edit.h"
#include "ui/form_layout.h"
#include "ui/setting_fields.h"

namespace kestrel {
namespace {

constexpr char kNotSignedIn[] = "Not signed in";

// What the page says when the configured grant signs in elsewhere.
QString AdminSignInText(OAuthGrant grant) {
  return QStringLiteral("The %1 sign-in runs in a terminal: kestrel-admin mail login")
      .arg(QString::fromLatin1(GrantName(grant)));
}

}  // namespace

CEmailPage::CEmailPage(QWidget* parent) : COptionsPage(QStringLiteral("Email"), parent) {
  auto* settingsBox = new QGroupBox(QStringLiteral("Email settings"), this);
  auto* settingsForm = GroupForm(settingsBox);
  name_ = new QLineEdit(settingsBox);
  name_->setObjectName(QStringLiteral("name"));
  address_ = new QLineEdit(settingsBox);
  address_->setObjectName(QStringLiteral("address"));
  header_ = new QLineEdit(settingsBox);
  header_->setObjectName(QStringLiteral("header"));
  AddFormRow(settingsForm, QStringLiteral("Name:"), name_);
  AddFormRow(settingsForm, QStringLiteral("email address:"), address_);
  AddFormRow(settingsForm, QStringLiteral("Subject: ( CallerID= %TSID% )"), header_);

  auto* serverBox = new QGroupBox(QStringLiteral("Email server"), this);
  auto* serverForm = GroupForm(serverBox);
  server_ = new QLineEdit(serverBox);
  server_->setObjectName(QStringLiteral("smtpServer"));
  port_ = new CDigitsEdit(serverBox);
  port_->setObjectName(QStringLiteral("smtpPort"));
  SizeToDigits(port_, 5);
  security_ = new QComboBox(serverBox);
  security_->setObjectName(QStringLiteral("smtpSecurity"));
  AddChoices(security_, kSecurityChoices);
  caFile_ = new QLineEdit(serverBox);
  caFile_->setObjectName(QStringLiteral("smtpCAFile"));
  auto* caBrowse = new QPushButton(QStringLiteral("..."), serverBox);
  caBrowse->setObjectName(QStringLiteral("browseCAFile"));
  caBrowse->setAutoDefault(false);
  auto* caRow = new QHBoxLayout;
  caRow->setContentsMargins(0, 0, 0, 0);
  caRow->addWidget(caFile_, 1);
  caRow->addWidget(caBrowse);
  authentication_ = new QComboBox(serverBox);
  authentication_->setObjectName(QStringLiteral("authentication"));
  AddChoices(authentication_, kAuthenticationChoices);
  user_ = new QLineEdit(serverBox);
  user_->setObjectName(QStringLiteral("smtpUser"));
  password_ = new QLineEdit(serverBox);
  password_->setObjectName(QStringLiteral("smtpPass"));
  password_->setEchoMode(QLineEdit::Password);
  AddFormRow(serverForm, QStringLiteral("Server name or IP (SMTP):"), server_);
  AddFormRow(serverForm, QStringLiteral("Port:"), port_);
  AddFormRow(serverForm, QStringLiteral("Connection security:"), security_);
  AddFormRow(serverForm, QStringLiteral("CA certificate file:"), caRow, caFile_);
  AddFormRow(serverForm, QStringLiteral("Authentication:"), authentication_);
  AddFormRow(serverForm, QStringLiteral("Username:"), user_);
  AddFormRow(serverForm, QStringLiteral("Password:"), password_);
  signInButton_ = new QPushButton(QStringLiteral("Sign in…"), serverBox);
  signInButton_->setObjectName(QStringLiteral("oauthSignIn"));
  signInButton_->setAutoDefault(false);
  signOutButton_ = new QPushButton(QStringLiteral("Sign out"), serverBox);
  signOutButton_->setObjectName(QStringLiteral("oauthSignOut"));
  signOutButton_->setAutoDefault(false);
  signInState_ = new QLabel(QString::fromLatin1(kNotSignedIn), serverBox);
  signInState_->setObjectName(QStringLiteral("oauthAccount"));
  signInState_->setWordWrap(true);
  auto* signInRow = new QHBoxLayout;
  signInRow->setContentsMargins(0, 0, 0, 0);
  signInRow->addWidget(signInButton_);
  signInRow->addWidget(signOutButton_);
  signInRow->addWidget(signInState_, 1);
  AddFormRow(serverForm, QStringLiteral("OAuth 2.0:"), signInRow, signInButton_);

  auto* attachmentBox = new QGroupBox(QStringLiteral("Attachment"), this);
  auto* attachmentForm = GroupForm(attachmentBox);
  format_ = new QComboBox(attachmentBox);
  format_->setObjectName(QStringLiteral("imageFormat"));
  AddChoices(format_, kImageFormatChoices);
  scale_ = new QCheckBox(QStringLiteral("Scale picture:"), attachmentBox);
  scale_->setObjectName(QStringLiteral("useImageScale"));
  width_ = new CDigitsEdit(attachmentBox);
  width_->setObjectName(QStringLiteral("imageScaleX"));
  SizeToDigits(width_, 5);
  AddFormRow(attachmentForm, QStringLiteral("Graphic formats:"), format_);
  attachmentForm->addRow(scale_);
  AddFormRow(attachmentForm, QStringLiteral("Width [Pixel] :"), width_);

  AlignFormLabels({settingsForm, serverForm, attachmentForm});

  auto* page = new QVBoxLayout(this);
  page->addWidget(settingsBox);
  page->addWidget(serverBox);
  page->addWidget(attachmentBox);
  page->addStretch(1);

  connect(authentication_, &QComboBox::activated, this, &CEmailPage::UpdateEnabledFields);
  connect(scale_, &QCheckBox::clicked, this, &CEmailPage::UpdateEnabledFields);
  connect(security_, &QComboBox::activated, this, &CEmailPage::OnSecurityChosen);
  connect(caBrowse, &QPushButton::clicked, this, &CEmailPage::OnBrowseCAFile);
  connect(signInButton_, &QPushButton::clicked, this, &CEmailPage::OnSignIn);
  connect(signOutButton_, &QPushButton::clicked, this, &CEmailPage::OnSignOut);
  connect(&signIn_, &COAuthSignIn::Finished, this, &CEmailPage::OnSignInFinished);
}

void CEmailPage::Load(const ServiceSettings& s) {
  loaded_ = s;
  ShowText(name_, s.Name);
  ShowText(address_, s.Address);
  ShowText(header_, s.Header);
  ShowText(server_, s.SMTPServer);
  port_->setText(QString::number(s.SMTPPort));
  ShowChoice(security_, s.SMTPSecurity);
  ShowText(caFile_, s.SMTPCAFile);
  ShowChoice(authentication_, s.AuthenticationMethod);
  ShowText(user_, s.SMTP_User);
  ShowText(password_, s.SMTP_Pass);
  ShowChoice(format_, s.ImageFormat);
  ShowFlag(scale_, s.UseImageScale);
  width_->setText(QString::number(s.ImageScaleX));
  ShowSignInState();
  UpdateEnabledFields();
}

bool CEmailPage::Store(ServiceSettings& s) {
  const auto port = ReadSetting(port_, "SMTPPort");
  if (!port) return false;
  const auto width = ReadSetting(width_, "ImageScaleX");
  if (!width) return false;
  ReadText(name_, s.Name);
  ReadText(address_, s.Address);
  ReadText(header_, s.Header);
  ReadText(server_, s.SMTPServer);
  s.SMTPPort = *port;
  ReadChoice(security_, s.SMTPSecurity);
  ReadText(caFile_, s.SMTPCAFile);
  ReadChoice(authentication_, s.AuthenticationMethod);
  ReadText(user_, s.SMTP_User);
  ReadText(password_, s.SMTP_Pass);
  ReadChoice(format_, s.ImageFormat);
  ReadFlag(scale_, s.UseImageScale);
  s.ImageScaleX = *width;
  return true;
}

void CEmailPage::OnSecurityChosen(int index) {
  if (index <= 0 || static_cast<std::size_t>(index) >= kSecurityPorts.size()) return;
  const QString port = port_->text().trimmed();
  if (port.isEmpty() || port == QString::number(kDefaultSmtpPort))
    port_->setText(QString::number(kSecurityPorts[index]));
}

void CEmailPage::OnBrowseCAFile() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("CA certificate file"), caFile_->text(),
                                                    QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"));
  if (!path.isEmpty()) caFile_->setText(path);
}

void CEmailPage::OnSignIn() {
  if (signIn_.Running()) {
    signIn_.Cancel();
    return;
  }
  ServiceSettings settings = loaded_;
  if (!Store(settings)) return;
  Result<OAuthConfig> config = ResolveOAuthConfig(settings);
  if (!config) {
    signInState_->setText(QString::fromStdString(config.Error().text));
    return;
  }
  if (config->grant != OAuthGrant::Code) {
    signInState_->setText(AdminSignInText(config->grant));
    return;
  }
  signIn_.Start(*config, ApplicationFolder(), settings.SMTP_User);
  signInState_->setText(QStringLiteral("Waiting for the sign-in in the browser…"));
  signInButton_->setText(QStringLiteral("Cancel sign-in"));
  UpdateEnabledFields();
}

void CEmailPage::OnSignInFinished(bool signedIn, const QString& text) {
  signInButton_->setText(QStringLiteral("Sign in…"));
  if (signedIn) {
    ShowSignInState();
    emit SignedIn();
  } else {
    signInState_->setText(QStringLiteral("The sign-in failed: %1").arg(text));
  }
  UpdateEnabledFields();
}

void CEmailPage::OnSignOut() {
  if (Status forgotten = COAuthTokenStore(ApplicationFolder()).Forget(); !forgotten) {
    signInState_->setText(QString::fromStdString(forgotten.Describe()));
    return;
  }
  ShowSignInState();
  UpdateEnabledFields();
}

void CEmailPage::ShowSignInState() {
  Result<OAuthTokens> tokens = COAuthTokenStore(ApplicationFolder()).Load();
  const bool held = tokens && !(tokens->refreshToken.empty() && tokens->accessToken.empty());
  if (!held)
    signInState_->setText(QString::fromLatin1(kNotSignedIn));
  else if (tokens->account.empty())
    signInState_->setText(QStringLiteral("Signed in"));
  else
    signInState_->setText(QStringLiteral("Signed in as %1").arg(QString::fromStdString(tokens->account)));
  tokensHeld_ = held;
}

void CEmailPage::UpdateEnabledFields() {
  // Index 0 is "None": no login, nothing to name.
  const bool login = authentication_->currentIndex() > 0;
  user_->setEnabled(login);
  password_->setEnabled(login);
  width_->setEnabled(scale_->isChecked());
  const bool oauth = authentication_->currentIndex() == static_cast<int>(SmtpAuthentication::OAuth);
  const bool running = signIn_.Running();
  signInButton_->setEnabled(oauth || running);
  signOutButton_->setEnabled(!running && tokensHeld_);
}

}  // namespace kestrel
