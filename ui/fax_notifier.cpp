// Notifications over org.freedesktop.Notifications (Notify, ActionInvoked,
// NotificationClosed), with QSystemTrayIcon::showMessage as the fallback.
#include "ui/fax_notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDesktopServices>
#include <QMetaObject>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVariantMap>

namespace kestrel {
namespace {

constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "Brightwater Kestrel";
constexpr char kAppIcon[] = "kestrel";
constexpr char kQueuedText[] = "could not be mailed, kept in the queue";
constexpr char kRefusedText[] = "the mail server refused: ";
constexpr char kOpenLabel[] = "Open";
constexpr int kCallTimeoutMs = 3000;

}  // namespace

CFaxNotifier::CFaxNotifier(QSystemTrayIcon* fallback, QObject* parent) : QObject(parent), fallback_(fallback) {
  if (fallback_) connect(fallback_, &QSystemTrayIcon::messageClicked, this, &CFaxNotifier::OnTrayMessageClicked);
}

QString CFaxNotifier::Summary(const ForwardedFax& fax) {
  return QStringLiteral("Fax from %1, %2 pages").arg(QString::fromStdString(fax.call.callerNumber)).arg(fax.call.pages);
}

QString CFaxNotifier::Body(const ForwardedFax& fax) {
  QStringList lines;
  if (fax.queued) lines << QString::fromLatin1(kQueuedText);
  QStringList refused;
  for (const std::string& address : fax.refusedRecipients) refused << QString::fromStdString(address);
  if (!refused.isEmpty()) lines << QString::fromLatin1(kRefusedText) + refused.join(QStringLiteral(", "));
  return lines.join(QLatin1Char('\n'));
}

void CFaxNotifier::FaxForwarded(const ForwardedFax& fax) {
  const QString summary = Summary(fax);
  const QString body = Body(fax);
  const QString file = QString::fromStdString(fax.faxFile);
  QMetaObject::invokeMethod(
      this, [this, summary, body, file] { Show(summary, body, file); }, Qt::QueuedConnection);
}

void CFaxNotifier::Show(const QString& summary, const QString& body, const QString& faxFile) {
  if (ShowOverDbus(summary, body, faxFile)) {
    emit Shown(true);
    return;
  }
  if (!fallback_) return;
  lastTrayFile_ = faxFile;
  fallback_->showMessage(summary, body.isEmpty() ? faxFile : body, QSystemTrayIcon::Information);
  emit Shown(false);
}

bool CFaxNotifier::ShowOverDbus(const QString& summary, const QString& body, const QString& faxFile) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() ||
      !bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value())
    return false;
  if (!connected_) {
    connected_ = bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                             QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  QStringList actions;
  if (!faxFile.isEmpty()) actions << QString::fromLatin1(kOpenAction) << QString::fromLatin1(kOpenLabel);
  call << QString::fromLatin1(kAppName) << uint(0) << QString::fromLatin1(kAppIcon) << summary << body << actions
       << QVariantMap{{QStringLiteral("category"), QStringLiteral("transfer.complete")},
                      {QStringLiteral("desktop-entry"), QStringLiteral("kestrel")}}
       << int(-1);
  const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  if (!reply.isValid()) return false;
  if (!faxFile.isEmpty()) files_.insert(reply.value(), faxFile);
  return true;
}

void CFaxNotifier::OnActionInvoked(uint id, const QString& action) {
  const auto it = files_.find(id);
  if (it == files_.end() || action != QString::fromLatin1(kOpenAction)) return;
  const QString path = it.value();
  files_.erase(it);
  Open(path);
}

void CFaxNotifier::OnTrayMessageClicked() {
  if (!lastTrayFile_.isEmpty()) Open(lastTrayFile_);
}

void CFaxNotifier::Open(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  emit Opened(path);
}

}  // namespace kestrel
