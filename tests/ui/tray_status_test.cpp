// The tray's state: icon mark and tooltip lines for each state of the line,
// the database and the queue, the specified title kept as the first line, and
// the single click acting only on panels that deliver one.
#include "ui/tray_status.h"

#include <QAction>
#include <QImage>
#include <QSet>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "ui/main_frame.h"

namespace kestrel {
namespace {

ServiceStatus Status(LineStatus::State state, bool database, std::size_t queued) {
  ServiceStatus s;
  s.line = {state, 2, 4};
  s.databaseOpen = database;
  s.queuedMails = queued;
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
      {Status(L::kCapiUnavailable, true, 0), TrayState::kCapiUnavailable, "Brightwater Kestrel\nCAPI not available"},
      {Status(L::kListening, false, 0), TrayState::kDatabaseUnavailable,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\nDatabase not available"},
      {Status(L::kListening, true, 3), TrayState::kQueued,
       "Brightwater Kestrel\nListening: 2 controller(s), 4 B-channel(s)\n3 mail(s) waiting in the queue"},
      {Status(L::kStopped, true, 0), TrayState::kStopped, "Brightwater Kestrel\nReception stopped"},
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
