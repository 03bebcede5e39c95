// Icon marks and tooltip texts of the tray's states.
#include "ui/tray_status.h"

#include <QPainter>
#include <QPixmap>

#include "desktop/artwork.h"
#include "oauth/token_store.h"

namespace kestrel {

namespace {

bool SipTakesCalls(const SipLineStatus& sip) {
  return sip.enabled && sip.running && (sip.registration.registrar.empty() || sip.registration.registered);
}

// "<what>: <failure>", or the bare words while no failure is known yet.
QString SipFault(const char* what, const std::string& failure) {
  const QString words = QStringLiteral("SIP: %1").arg(QLatin1String(what));
  return failure.empty() ? words : QStringLiteral("%1: %2").arg(words, QString::fromStdString(failure));
}

QString SipLine(const SipLineStatus& sip) {
  const RegistrationState& r = sip.registration;
  if (!sip.running) return SipFault("not running", sip.failure);
  if (r.registrar.empty()) return QStringLiteral("SIP: taking calls from its peers");
  if (!r.registered) return SipFault("not registered", r.failure);
  return QStringLiteral("SIP: registered as %1@%2")
      .arg(QString::fromStdString(r.user), QString::fromStdString(r.registrar));
}

}  // namespace

TrayState TrayStateOf(const ServiceStatus& status) {
  if (!status.databaseOpen) return TrayState::kDatabaseUnavailable;
  switch (status.line.state) {
    case LineStatus::State::kCapiUnavailable:
      // Faxes still arrive while the SIP line takes calls: only both lines
      // down are a fault.
      if (!SipTakesCalls(status.sip)) return TrayState::kCapiUnavailable;
      break;
    case LineStatus::State::kStopped: return TrayState::kStopped;
    case LineStatus::State::kReceiving: return TrayState::kReceiving;
    case LineStatus::State::kListening: break;
  }
  if (status.sip.callsInProgress > 0) return TrayState::kReceiving;
  return status.queuedMails > 0 ? TrayState::kQueued : TrayState::kListening;
}

QStringList TrayStatusLines(const ServiceStatus& status) {
  QStringList lines;
  switch (status.line.state) {
    case LineStatus::State::kListening:
      lines << QStringLiteral("Listening: %1 controller(s), %2 B-channel(s)")
                   .arg(status.line.controllers)
                   .arg(status.line.bChannels);
      break;
    case LineStatus::State::kReceiving: {
      const int calls = status.line.callsInProgress;
      lines << (calls > 1 ? QStringLiteral("Receiving %1 faxes").arg(calls) : QStringLiteral("Receiving a fax"));
      if (calls > 0) lines << QStringLiteral("%1 of %2 B-channel(s) in use").arg(calls).arg(status.line.bChannels);
      break;
    }
    case LineStatus::State::kCapiUnavailable: lines << QStringLiteral("CAPI not available"); break;
    case LineStatus::State::kStopped: lines << QStringLiteral("Reception stopped"); break;
  }
  if (status.sip.enabled) lines << SipLine(status.sip);
  if (!status.databaseOpen) lines << QStringLiteral("Database not available");
  if (status.queuedMails > 0)
    lines << QStringLiteral("%1 mail(s) waiting in the queue").arg(static_cast<qulonglong>(status.queuedMails));
  return lines;
}

QIcon TrayStateIcon(TrayState state) {
  QColor mark;
  switch (state) {
    case TrayState::kListening: return TrayIconImage();
    case TrayState::kReceiving: mark = QColor(0x1E, 0x6F, 0xB5); break;  // blue: busy
    case TrayState::kQueued: mark = QColor(0xE0, 0xA0, 0x10); break;     // amber: waiting
    case TrayState::kStopped: mark = QColor(0x80, 0x80, 0x80); break;    // grey: idle
    case TrayState::kCapiUnavailable:
    case TrayState::kDatabaseUnavailable: mark = QColor(0xC8, 0x20, 0x20); break;  // red: fault
  }
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pm = TrayIconImage().pixmap(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const int d = std::max(6, size * 7 / 16);
    p.setPen(QPen(Qt::white, std::max(1, size / 16)));
    p.setBrush(mark);
    p.drawEllipse(size - d - 1, size - d - 1, d, d);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

std::string OAuthRenewalFailure(const ServiceSettings& settings, const std::string& folder) {
  if (settings.AuthenticationMethod != SmtpAuthentication::OAuth) return {};
  Result<OAuthTokens> tokens = COAuthTokenStore(folder).Load();
  return tokens ? tokens->lastError : tokens.Error().Describe();
}

OAuthFailureTexts OAuthFailureTextsOf(const std::string& failure) {
  // invalid_grant: the sign-in itself is void (revoked, expired, password
  // changed); anything else may pass when the endpoint answers again.
  const bool signInVoid = failure.find("invalid_grant") != std::string::npos;
  const QString cause = QString::fromStdString(failure);
  if (signInVoid)
    return {QStringLiteral("Mail sign-in no longer valid: sign in again"),
            QStringLiteral("Faxes cannot be mailed: sign in again"),
            QStringLiteral("The mail server's OAuth 2.0 sign-in is no longer valid (%1). The faxes wait in the queue "
                           "and go as soon as you sign in again: Settings, Email, Sign in….")
                .arg(cause)};
  return {QStringLiteral("Mail sign-in could not be renewed"), QStringLiteral("Faxes cannot be mailed for now"),
          QStringLiteral("The mail server's OAuth 2.0 token could not be renewed (%1). The faxes wait in the queue; "
                         "if this lasts, sign in again: Settings, Email, Sign in….")
              .arg(cause)};
}

}  // namespace kestrel
