#include "ui/sip_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "core/setting_choices.h"
#include "ui/digits_edit.h"
#include "ui/form_layout.h"
#include "ui/setting_fields.h"

namespace kestrel {
namespace {

QLineEdit* NamedEdit(QLineEdit* edit, const char* name) {
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

}  // namespace

CSipPage::CSipPage(QWidget* parent) : COptionsPage(QStringLiteral("SIP"), parent) {
  auto* lineBox = new QGroupBox(QStringLiteral("SIP line"), this);
  auto* lineForm = GroupForm(lineBox);
  enabled_ = new QCheckBox(QStringLiteral("Receive faxes over SIP (a SIP trunk or a PBX extension)"), lineBox);
  enabled_->setObjectName(QStringLiteral("sipEnabled"));
  lineForm->addRow(enabled_);

  registrationBox_ = new QGroupBox(QStringLiteral("Registration"), this);
  auto* registrationBox = registrationBox_;
  auto* registrationForm = GroupForm(registrationBox);
  registrar_ = NamedEdit(new QLineEdit(registrationBox), "sipRegistrar");
  registrar_->setPlaceholderText(QStringLiteral("empty: no registration, calls from the peers only"));
  user_ = NamedEdit(new QLineEdit(registrationBox), "sipUser");
  authUser_ = NamedEdit(new QLineEdit(registrationBox), "sipAuthUser");
  authUser_->setPlaceholderText(QStringLiteral("empty: the user"));
  password_ = NamedEdit(new QLineEdit(registrationBox), "sipPassword");
  password_->setEchoMode(QLineEdit::Password);
  transport_ = new QComboBox(registrationBox);
  transport_->setObjectName(QStringLiteral("sipTransport"));
  AddChoices(transport_, kSipTransportChoices);
  port_ = new CDigitsEdit(registrationBox);
  port_->setObjectName(QStringLiteral("sipPort"));
  SizeToDigits(port_, 5);
  AddFormRow(registrationForm, QStringLiteral("Registrar (host or host:port):"), registrar_);
  AddFormRow(registrationForm, QStringLiteral("User (number or extension):"), user_);
  AddFormRow(registrationForm, QStringLiteral("Login name:"), authUser_);
  AddFormRow(registrationForm, QStringLiteral("Password:"), password_);
  AddFormRow(registrationForm, QStringLiteral("Transport:"), transport_);
  AddFormRow(registrationForm, QStringLiteral("Local SIP port:"), port_);

  callsBox_ = new QGroupBox(QStringLiteral("Calls"), this);
  auto* callsBox = callsBox_;
  auto* callsForm = GroupForm(callsBox);
  peers_ = NamedEdit(new QLineEdit(callsBox), "sipPeers");
  peers_->setPlaceholderText(QStringLiteral("addresses, CIDRs or host names, separated by commas"));
  channels_ = new CDigitsEdit(callsBox);
  channels_->setObjectName(QStringLiteral("sipChannels"));
  SizeToDigits(channels_, 3);
  rtpPorts_ = NamedEdit(new QLineEdit(callsBox), "sipRtpPorts");
  SizeToDigits(rtpPorts_, 11);
  t38_ = new QCheckBox(QStringLiteral("Offer T.38 where the line supports it"), callsBox);
  t38_->setObjectName(QStringLiteral("sipT38"));
  AddFormRow(callsForm, QStringLiteral("Peers allowed to call:"), peers_);
  AddFormRow(callsForm, QStringLiteral("Simultaneous calls:"), channels_);
  AddFormRow(callsForm, QStringLiteral("Audio (RTP) ports, first-last:"), rtpPorts_);
  callsForm->addRow(t38_);

  AlignFormLabels({registrationForm, callsForm});

  auto* page = new QVBoxLayout(this);
  page->addWidget(lineBox);
  page->addWidget(registrationBox);
  page->addWidget(callsBox);
  page->addStretch(1);

  connect(enabled_, &QCheckBox::toggled, this, &CSipPage::UpdateEnabledFields);
}

void CSipPage::Load(const ServiceSettings& s) {
  ShowFlag(enabled_, s.SipEnabled);
  ShowText(registrar_, s.SipRegistrar);
  ShowText(user_, s.SipUser);
  ShowText(authUser_, s.SipAuthUser);
  ShowText(password_, s.SipPassword);
  ShowChoice(transport_, s.SipTransport);
  port_->setText(QString::number(s.SipPort));
  ShowText(rtpPorts_, s.SipRtpPorts);
  ShowFlag(t38_, s.SipT38);
  ShowText(peers_, s.SipPeers);
  channels_->setText(QString::number(s.SipChannels));
  UpdateEnabledFields();
}

bool CSipPage::Store(ServiceSettings& s) {
  // Checked in the page's order, so the first refusal is the topmost field.
  const auto registrar = ReadSettingText(registrar_, "SipRegistrar");
  if (!registrar) return false;
  const auto port = ReadSetting(port_, "SipPort");
  if (!port) return false;
  const auto peers = ReadSettingText(peers_, "SipPeers");
  if (!peers) return false;
  const auto channels = ReadSetting(channels_, "SipChannels");
  if (!channels) return false;
  const auto rtpPorts = ReadSettingText(rtpPorts_, "SipRtpPorts");
  if (!rtpPorts) return false;
  ReadFlag(enabled_, s.SipEnabled);
  s.SipRegistrar = *registrar;
  ReadText(user_, s.SipUser);
  ReadText(authUser_, s.SipAuthUser);
  ReadText(password_, s.SipPassword);
  ReadChoice(transport_, s.SipTransport);
  s.SipPort = *port;
  s.SipRtpPorts = *rtpPorts;
  ReadFlag(t38_, s.SipT38);
  s.SipPeers = *peers;
  s.SipChannels = *channels;
  return true;
}

void CSipPage::UpdateEnabledFields() {
  registrationBox_->setEnabled(enabled_->isChecked());
  callsBox_->setEnabled(enabled_->isChecked());
}

}  // namespace kestrel
