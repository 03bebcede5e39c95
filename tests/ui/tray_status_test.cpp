// The tray's state: icon mark and tooltip lines for each state of the CAPI
// and SIP lines, the database and the queue, the specified title kept as the
// first line, and the single click acting only on panels that deliver one.
#include "ui/tray_status.h"

#include <QAction>
#include <QImage>
#include <QSet>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "ui/main_frame.h"

namespace kestrel {
namespace {

ServiceStatus Status(LineStatus::State state, bool database, std::size_t queued, int calls = 0) {
  ServiceStatus s;
  s.line = {state, 2, 4, calls};
  s.databaseOpen = database;
  s.queuedMails = queued;
  return s;
}

// The SIP line beside CAPI's, in each of its states.
ServiceStatus WithSip(ServiceStatus s, bool running, const char* registrar, bool registered, const char* failure,
                      int calls = 0) {
  s.sip.enabled = true;
  s.sip.running = running;
  (running ? s.sip.registration.failure : s.sip.failure) = failure;
  s.sip.registration.registered = registered;
  s.sip.registration.registrar = registrar;
  s.sip.registration.user = "201";
  s.sip.callsInProgress = calls;
  return s;
}

TEST(TrayStatusTest, EachStateHasItsIconAndTooltip) {
  using L = LineStatus::State;
  struct Case {
    ServiceStatus status;
    TrayState state;
    QString tooltip;
  } cases[] = {
      {Status(L::kListening, true, 0), TrayState::kListening,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)"},
      {Status(L::kReceiving, true, 0), TrayState::kReceiving, "Brightwater Kestrel\nReceiving a fax"},
      {Status(L::kReceiving, true, 0, 2), TrayState::kReceiving,
       "Brightwater Kestrel\nReceiving 2 faxes\n2 of 4 B-channel(s) in use"},
      {Status(L::kCapiUnavailable, true, 0), TrayState::kCapiUnavailable, "Brightwater Kestrel\nCAPI not available"},
      {Status(L::kListening, false, 0), TrayState::kDatabaseUnavailable,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\nDatabase not available"},
      {Status(L::kListening, true, 3), TrayState::kQueued,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\n3 mail(s) waiting in the queue"},
      {Status(L::kStopped, true, 0), TrayState::kStopped, "Brightwater Kestrel\nReception stopped"},
      {WithSip(Status(L::kListening, true, 0), true, "pbx.example.org", true, ""), TrayState::kListening,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\nSIP: registered as 201@pbx.example.org"},
      {WithSip(Status(L::kListening, true, 0), true, "pbx.example.org", true, "", 1), TrayState::kReceiving,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\nSIP: registered as 201@pbx.example.org"},
      {WithSip(Status(L::kListening, true, 0), true, "pbx.example.org", false, "408 Request Timeout"),
       TrayState::kListening,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\nSIP: not registered: 408 Request Timeout"},
      {WithSip(Status(L::kCapiUnavailable, true, 0), true, "pbx.example.org", true, ""), TrayState::kListening,
       "Brightwater Kestrel\nCAPI not available\nSIP: registered as 201@pbx.example.org"},
      {WithSip(Status(L::kCapiUnavailable, true, 0), true, "", false, ""), TrayState::kListening,
       "Brightwater Kestrel\nCAPI not available\nSIP: taking calls from its peers"},
      {WithSip(Status(L::kCapiUnavailable, true, 0), true, "pbx.example.org", false, "403 Forbidden"),
       TrayState::kCapiUnavailable, "Brightwater Kestrel\nCAPI not available\nSIP: not registered: 403 Forbidden"},
      {WithSip(Status(L::kCapiUnavailable, true, 0), false, "", false, "port 5060 in use"), TrayState::kCapiUnavailable,
       "Brightwater Kestrel\nCAPI not available\nSIP: not running: port 5060 in use"},
  };
  CMainFrame frame;
  QList<qint64> icons;
  for (const Case& c : cases) {
    EXPECT_EQ(TrayStateOf(c.status), c.state) << c.tooltip.toStdString();
    frame.TrayIcon().SetStatus(TrayStateIcon(c.state), TrayStatusLines(c.status));
    EXPECT_EQ(frame.TrayIcon().ToolTip(), c.tooltip);
    const QImage image = frame.TrayIcon().PlatformIcon().icon().pixmap(32, 32).toImage();
    icons << static_cast<qint64>(qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes())));
  }
  // The two faults share red; every other state looks different.
  EXPECT_EQ(QSet<qint64>(icons.begin(), icons.end()).size(), 5);
}

TEST(TrayStatusTest, SingleClickOpensSettingsOnlyWherePanelsDeliverIt) {
  CMainFrame frame;
  QSignalSpy settings(frame.TrayIcon().SettingsAction(), &QAction::triggered);
  frame.TrayIcon().SetSingleClickPanel(false);
  EXPECT_FALSE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::Trigger));
  EXPECT_EQ(settings.count(), 0);
  frame.TrayIcon().SetSingleClickPanel(true);
  EXPECT_TRUE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::Trigger));
  EXPECT_EQ(settings.count(), 1);
}

}  // namespace
}  // namespace kestrel
