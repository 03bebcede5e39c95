// CFaxNotifier: one desktop notification per fax the forwarding side has
// finished with: "Fax from <caller>, <pages> pages", and "could not be mailed,
// kept in the queue" when its mail was queued, the addresses the mail server
// refused, and an action that opens the fax's file. It speaks the freedesktop notification protocol over the session
// D-Bus; where no notification service runs it shows the tray icon's message.
//
// FaxForwarded is called on the forwarding thread and only queues the fax to
// the user-interface thread; everything else runs there. Bytes from D-Bus
// (the action signal) are only compared with the ids this object sent.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include "forward/forwarded_fax_listener.h"

class QSystemTrayIcon;

namespace kestrel {

class CFaxNotifier : public QObject, public IForwardedFaxListener {
  Q_OBJECT

 public:
  static constexpr char kService[] = "org.freedesktop.Notifications";
  static constexpr char kPath[] = "/org/freedesktop/Notifications";
  static constexpr char kOpenAction[] = "default";

  // `fallback` shows the message where no notification service exists (may
  // be null: then nothing is shown there).
  explicit CFaxNotifier(QSystemTrayIcon* fallback, QObject* parent = nullptr);

  void FaxForwarded(const ForwardedFax& fax) override;

  // The texts of one fax's notification.
  static QString Summary(const ForwardedFax& fax);
  static QString Body(const ForwardedFax& fax);

  // Shows the notification (user-interface thread).
  void Show(const QString& summary, const QString& body, const QString& faxFile);

 signals:
  // A notification was shown (through D-Bus: true, or the tray message).
  void Shown(bool overDbus);
  // The user chose to open `path`; the desktop has been asked to.
  void Opened(const QString& path);

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnTrayMessageClicked();

 private:
  bool ShowOverDbus(const QString& summary, const QString& body, const QString& faxFile);
  void Open(const QString& path);

  QSystemTrayIcon* fallback_;
  QHash<uint, QString> files_;  // notification id -> fax file
  QString lastTrayFile_;
  bool connected_ = false;
};

}  // namespace kestrel
