#include "ui/dlg_options_page_email.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstddef>
#include <iterator>

#include "core/image_format.h"
#include "core/setting_choices.h"
#include "ui/digits_edit.h"
#include "ui/form_layout.h"

namespace kestrel {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }


// A list index as the old drop-down kept it: an index outside the entries
// selects nothing and reads back as -1.
void SelectIndex(QComboBox* box, std::int32_t index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

}  // namespace

CDlgOptionsPageEMail::CDlgOptionsPageEMail(QWidget* parent)
    : COptionsPage(QStringLiteral("Email"), parent) {
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
  for (std::string_view e : kSecurityChoices) security_->addItem(QString::fromLatin1(e.data(), e.size()));
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
  for (std::string_view e : kAuthenticationChoices) authentication_->addItem(QString::fromLatin1(e.data(), e.size()));
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

  auto* attachmentBox = new QGroupBox(QStringLiteral("Attachment"), this);
  auto* attachmentForm = GroupForm(attachmentBox);
  format_ = new QComboBox(attachmentBox);
  format_->setObjectName(QStringLiteral("imageFormat"));
  for (std::string_view e : kImageFormatChoices) format_->addItem(QString::fromLatin1(e.data(), e.size()));
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

  connect(authentication_, &QComboBox::activated, this, &CDlgOptionsPageEMail::OnAuthenticationChanged);
  connect(scale_, &QCheckBox::clicked, this, &CDlgOptionsPageEMail::OnScalePictureClicked);
  connect(security_, &QComboBox::activated, this, &CDlgOptionsPageEMail::OnSecurityChanged);
  connect(caBrowse, &QPushButton::clicked, this, &CDlgOptionsPageEMail::OnBrowseCAFile);
}

void CDlgOptionsPageEMail::ProposeFirstRunValues() {
  SMTPSecurity = static_cast<std::int32_t>(SmtpSecurity::StartTls);
  ImageFormat = ImageFormatNumber(kestrel::ImageFormat::Pdf);
}

void CDlgOptionsPageEMail::OnSecurityChanged(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kSecurityPorts))) return;
  const QString port = port_->text().trimmed();
  if (index > 0 && (port.isEmpty() || port == QString::number(kDefaultSmtpPort)))
    port_->setText(QString::number(kSecurityPorts[index]));
}

void CDlgOptionsPageEMail::OnBrowseCAFile() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("CA certificate file"), caFile_->text(),
                                                    QStringLiteral("PEM certificates (*.pem *.crt);;All files (*)"));
  if (!path.isEmpty()) caFile_->setText(path);
}

void CDlgOptionsPageEMail::LoadFrom(const ServiceSettings& s) {
  Name = s.Name;
  Address = s.Address;
  Header = s.Header;
  SMTPServer = s.SMTPServer;
  SMTPPort = s.SMTPPort;
  SMTPSecurity = static_cast<std::int32_t>(s.SMTPSecurity);
  SMTPCAFile = s.SMTPCAFile;
  AuthenticationMethod = static_cast<std::int32_t>(s.AuthenticationMethod);
  SMTP_User = s.SMTP_User;
  SMTP_Pass = s.SMTP_Pass;
  ImageFormat = ImageFormatNumber(s.ImageFormat);
  UseImageScale = s.UseImageScale;
  ImageScaleX = s.ImageScaleX;
}

void CDlgOptionsPageEMail::StoreInto(ServiceSettings& s) const {
  s.Name = Name;
  s.Address = Address;
  s.Header = Header;
  s.SMTPServer = SMTPServer;
  s.SMTPPort = SMTPPort;
  s.SMTPSecurity = static_cast<SmtpSecurity>(SMTPSecurity);
  s.SMTPCAFile = SMTPCAFile;
  s.AuthenticationMethod = static_cast<SmtpAuthentication>(AuthenticationMethod);
  s.SMTP_User = SMTP_User;
  s.SMTP_Pass = SMTP_Pass;
  s.ImageFormat = ImageFormatFromNumber(ImageFormat);
  s.UseImageScale = UseImageScale;
  s.ImageScaleX = ImageScaleX;
}

void CDlgOptionsPageEMail::ExchangeToControls() {
  name_->setText(Q(Name));
  address_->setText(Q(Address));
  header_->setText(Q(Header));
  server_->setText(Q(SMTPServer));
  // The port is an unsigned field: a stored negative value shows as the old
  // unsigned exchange showed it, and reads back unchanged.
  port_->setText(QString::number(static_cast<std::uint32_t>(SMTPPort)));
  SelectIndex(security_, SMTPSecurity);
  caFile_->setText(Q(SMTPCAFile));
  SelectIndex(authentication_, AuthenticationMethod);
  user_->setText(Q(SMTP_User));
  password_->setText(Q(SMTP_Pass));
  SelectIndex(format_, ImageFormat);
  scale_->setChecked(UseImageScale != 0);
  width_->setText(QString::number(ImageScaleX));
}

bool CDlgOptionsPageEMail::ExchangeToMembers() {
  const auto port = ReadUnsigned(port_);
  if (!port) return false;
  const auto width = ReadSigned(width_);
  if (!width) return false;
  Name = S(name_->text());
  Address = S(address_->text());
  Header = S(header_->text());
  SMTPServer = S(server_->text());
  SMTPPort = static_cast<std::int32_t>(*port);
  SMTPSecurity = security_->currentIndex();
  SMTPCAFile = S(caFile_->text());
  AuthenticationMethod = authentication_->currentIndex();
  SMTP_User = S(user_->text());
  SMTP_Pass = S(password_->text());
  ImageFormat = format_->currentIndex();
  UseImageScale = scale_->isChecked() ? 1 : 0;
  ImageScaleX = *width;
  return true;
}

void CDlgOptionsPageEMail::OnInitPage() {
  const bool login = AuthenticationMethod > 0;
  user_->setEnabled(login);
  password_->setEnabled(login);
  width_->setEnabled(UseImageScale != 0);
}

void CDlgOptionsPageEMail::OnAuthenticationChanged(int index) {
  user_->setEnabled(index > 0);
  password_->setEnabled(index > 0);
}

void CDlgOptionsPageEMail::OnScalePictureClicked() {
  width_->setEnabled(scale_->isChecked());
  ExchangeToMembers();
}

}  // namespace kestrel
