// The fax notification on a private D-Bus session bus of this test's own
// (dbus-daemon with its own configuration), with a stand-in notification
// service that records each Notify call and sends ActionInvoked back: the
// texts, the queued line, and the Open action opening the fax's file. Without
// a notification service the tray message shows, and clicking it opens the
// fax too.
//
// Skipped when dbus-daemon is missing.
#include "ui/fax_notifier.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

#include "tests/desktop/qt_test_support.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::COpenRecorder;
using test::WaitUntil;

// One Notify call as the service received it.
struct NotifyCall {
  QString appName, summary, body;
  QStringList actions;
  uint id = 0;
};

// The notification service's side, living on a thread of its own: the
// notifier waits for Notify's reply without running its event loop.
class CNotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  explicit CNotificationService(QString address) : address_(std::move(address)) {}

  QList<NotifyCall> Calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
  }

 public slots:
  // Runs on the service's thread once it has started.
  void Register() {
    QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("notification-service"));
    registered_ = bus.registerObject(QString::fromLatin1(CFaxNotifier::kPath), this, QDBusConnection::ExportAllSlots) &&
                  bus.registerService(QString::fromLatin1(CFaxNotifier::kService));
  }
  uint Notify(const QString& appName, uint /*replacesId*/, const QString& /*icon*/, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& /*hints*/, int /*timeout*/) {
    QMutexLocker lock(&mutex_);
    calls_.push_back(NotifyCall{appName, summary, body, actions, uint(calls_.size() + 7)});
    return calls_.back().id;
  }
  // What a click on the notification's button sends.
  void InvokeAction(uint id, const QString& action) {
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(CFaxNotifier::kPath),
                                   QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << action;
    QDBusConnection(QStringLiteral("notification-service")).send(signal);
  }

 public:
  bool registered_ = false;

 private:
  QString address_;
  mutable QMutex mutex_;
  QList<NotifyCall> calls_;
};

// A session bus for this program: its address becomes the session bus before
// anything in the program asks for one.
class CPrivateBus {
 public:
  CPrivateBus() {
    folder_ = std::make_unique<test::CTempDir>();
    const QString config = QString::fromStdString(folder_->File("session.conf"));
    QFile file(config);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>unix:dir=%1</listen>\n"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                              "</policy></busconfig>\n")
                   .arg(QString::fromStdString(folder_->Path()))
                   .toUtf8());
    file.close();
    test::EndWithThisProcess(daemon_);
    daemon_.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork", "--print-address"});
    if (!daemon_.waitForStarted(5000)) return;
    QByteArray out;
    WaitUntil(
        [&] {
          out += daemon_.readAllStandardOutput();
          return out.contains('\n') || daemon_.state() != QProcess::Running;
        },
        30000);
    address_ = QString::fromUtf8(out.trimmed());
    if (!address_.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
  }
  ~CPrivateBus() {
    daemon_.terminate();
    if (!daemon_.waitForFinished(5000)) daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const QString& Address() const { return address_; }

 private:
  std::unique_ptr<test::CTempDir> folder_;
  QProcess daemon_;
  QString address_;
};

ForwardedFax Fax(bool queued) {
  ForwardedFax fax;
  fax.call.callerNumber = "0301234567";
  fax.call.pages = 3;
  fax.queued = queued;
  fax.mailed = !queued;
  fax.faxFile = "/var/spool/kestrel/0301234567_08-12-2026-08-30-12.pdf";
  return fax;
}

class FaxNotifierTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) return;
    bus_ = new CPrivateBus;
  }
  static void TearDownTestSuite() {
    delete bus_;
    bus_ = nullptr;
  }
  void SetUp() override {
    if (!bus_ || bus_->Address().isEmpty()) GTEST_SKIP() << "dbus-daemon missing or not started";
  }
  void StartService() {
    service_ = std::make_unique<CNotificationService>(bus_->Address());
    service_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(service_.get(), "Register", Qt::BlockingQueuedConnection);
    ASSERT_TRUE(service_->registered_);
    ASSERT_TRUE(WaitUntil(
        [] {
          return QDBusConnection::sessionBus().interface()->isServiceRegistered(
              QString::fromLatin1(CFaxNotifier::kService));
        },
        30000));
  }
  void TearDown() override {
    if (!service_) return;
    QMetaObject::invokeMethod(
        service_.get(), [] { QDBusConnection::disconnectFromBus(QStringLiteral("notification-service")); },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    service_.reset();
    // The next case starts with no service on the bus.
    WaitUntil(
        [] {
          return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
              QString::fromLatin1(CFaxNotifier::kService));
        },
        30000);
  }

  static CPrivateBus* bus_;
  QThread thread_;
  std::unique_ptr<CNotificationService> service_;
  COpenRecorder opened_;
};

CPrivateBus* FaxNotifierTest::bus_ = nullptr;

TEST_F(FaxNotifierTest, EachFaxIsAnnouncedWithCallerPagesAndWhetherItWasQueued) {
  StartService();
  struct Case {
    bool queued;
    std::vector<std::string> refused;
    const char* body;
  } cases[] = {{false, {}, ""},
               {true, {}, "could not be mailed, kept in the queue"},
               {false, {"a@x.de", "b@y.de"}, "the mail server refused: a@x.de, b@y.de"}};
  CFaxNotifier notifier(nullptr);
  QSignalSpy shown(&notifier, &CFaxNotifier::Shown);
  for (const Case& c : cases) {
    const qsizetype before = shown.size();
    ForwardedFax fax = Fax(c.queued);
    fax.refusedRecipients = c.refused;
    notifier.FaxForwarded(fax);
    ASSERT_TRUE(WaitUntil([&] { return shown.size() == before + 1; }, 30000));
    ASSERT_EQ(service_->Calls().size(), before + 1);
    EXPECT_TRUE(shown.back().at(0).toBool()) << "over D-Bus";
    const NotifyCall call = service_->Calls().back();
    EXPECT_EQ(call.appName, QStringLiteral("Brightwater Kestrel"));
    EXPECT_EQ(call.summary, QStringLiteral("Fax from 0301234567, 3 pages"));
    EXPECT_EQ(call.body, QString::fromLatin1(c.body));
    EXPECT_EQ(call.actions, (QStringList{"default", "Open"}));
  }
  EXPECT_EQ(service_->Calls().size(), 3);
}

TEST_F(FaxNotifierTest, OpenActionOpensItsOwnFaxFileOnce) {
  StartService();
  CFaxNotifier notifier(nullptr);
  ForwardedFax first = Fax(false), second = Fax(true);
  second.faxFile = "/var/spool/kestrel/0897654321_08-12-2026-09-00-00.pdf";
  notifier.FaxForwarded(first);
  notifier.FaxForwarded(second);
  ASSERT_TRUE(WaitUntil([&] { return service_->Calls().size() == 2; }, 30000));
  const uint a = service_->Calls()[0].id, b = service_->Calls()[1].id;
  // An unknown notification, another action, the same action twice, then the
  // second fax's: the signals arrive in order, so once the second fax opens
  // all the others have been handled.
  for (const auto& [id, action] : {std::pair{a + 100, "default"}, std::pair{a, "other"}, std::pair{a, "default"},
                                   std::pair{a, "default"}, std::pair{b, "default"}})
    QMetaObject::invokeMethod(service_.get(), "InvokeAction", Q_ARG(uint, id), Q_ARG(QString, QString(action)));
  ASSERT_TRUE(WaitUntil([&] { return opened_.opened.size() >= 2; }, 30000));
  EXPECT_EQ(opened_.opened, (QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(first.faxFile)),
                                         QUrl::fromLocalFile(QString::fromStdString(second.faxFile))}));
}

TEST_F(FaxNotifierTest, WithoutANotificationServiceTheTrayMessageShowsAndOpensTheFax) {
  QSystemTrayIcon tray;
  CFaxNotifier notifier(&tray);
  QSignalSpy shown(&notifier, &CFaxNotifier::Shown);
  notifier.FaxForwarded(Fax(true));
  ASSERT_TRUE(WaitUntil([&] { return !shown.isEmpty(); }, 30000));
  EXPECT_FALSE(shown[0].at(0).toBool()) << "the tray message, not D-Bus";
  emit tray.messageClicked();
  ASSERT_EQ(opened_.opened.size(), 1);
  EXPECT_EQ(opened_.opened[0], QUrl::fromLocalFile(QString::fromStdString(Fax(true).faxFile)));
}

}  // namespace
}  // namespace kestrel

#include "fax_notifier_test.moc"
