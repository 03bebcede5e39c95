// The hidden main frame and its tray icon: the menu's actions in order with
// their mnemonics and Settings as default, the tooltip and its 63-character
// limit, the double-click that triggers Settings, the frame that only hides
// unless Exit set its flag, and the about box.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/desktop/qt_test_support.h"
#include "ui/about_box.h"
#include "ui/main_frame.h"

namespace kestrel {
namespace {

TEST(TrayIconTest, MenuHoldsTheActionsInOrderWithSettingsAsDefault) {
  CMainFrame frame;
  const CTrayIcon& tray = frame.TrayIcon();
  QMenu* menu = tray.Menu();
  ASSERT_NE(menu, nullptr);
  QStringList items;
  std::vector<QAction*> actions;
  for (QAction* a : menu->actions()) {
    items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    if (!a->isSeparator()) actions.push_back(a);
  }
  EXPECT_EQ(items, (QStringList{"S&ettings...", "-", "&Jotter...", "-", "&Help", "Ab&out Kestrel...", "-", "E&xit"}));
  EXPECT_EQ(actions, (std::vector<QAction*>{tray.SettingsAction(), tray.JotterAction(), tray.HelpAction(),
                                            tray.AboutAction(), tray.ExitAction()}));
  EXPECT_EQ(menu->defaultAction(), tray.SettingsAction());
  EXPECT_EQ(frame.TrayIcon().ToolTip(), "Brightwater Kestrel");
  EXPECT_TRUE(frame.TrayIcon().IconShown());
}

TEST(TrayIconTest, DoubleClickTriggersSettingsAndASingleClickOnAnXEmbedTrayNothing) {
  CMainFrame frame;
  frame.TrayIcon().SetSingleClickPanel(false);
  QSignalSpy settings(frame.TrayIcon().SettingsAction(), &QAction::triggered);
  QSignalSpy others(frame.TrayIcon().JotterAction(), &QAction::triggered);
  EXPECT_TRUE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::DoubleClick));
  EXPECT_FALSE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::Trigger));
  EXPECT_EQ(settings.size(), 1);
  EXPECT_EQ(others.size(), 0);
}

TEST(TrayIconTest, MnemonicTriggersTheItemFromTheOpenMenu) {
  CMainFrame frame;
  QSignalSpy about(frame.TrayIcon().AboutAction(), &QAction::triggered);
  QMenu* menu = frame.TrayIcon().Menu();
  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  QTest::keyClick(menu, Qt::Key_O);
  ASSERT_TRUE(test::WaitUntil([&] { return about.size() == 1; }));
}

TEST(TrayIconTest, TooltipIsCutToSixtyThreeCharacters) {
  CTrayIcon icon;
  const QString longText(80, QLatin1Char('x'));
  icon.SetIcon(QIcon(QPixmap(16, 16)), &longText);
  EXPECT_EQ(icon.ToolTip().size(), 63);
  EXPECT_TRUE(icon.IconShown());
  icon.SetIcon(QIcon());
  EXPECT_FALSE(icon.IconShown());
}

TEST(MainFrameTest, ClosingOnlyHidesUntilExitSetsTheFlag) {
  CMainFrame frame;
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(frame.geometry().size(), QSize(190, 132));
  QSignalSpy closed(&frame, &CMainFrame::Closed);
  frame.show();
  frame.close();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_EQ(closed.size(), 0);
  EXPECT_FALSE(frame.ExitFlag());
  frame.TrayIcon().Menu()->actions().last()->trigger();  // E&xit
  EXPECT_TRUE(frame.ExitFlag());
  EXPECT_EQ(closed.size(), 1);
}

TEST(MainFrameTest, PaintsItselfLightGrey) {
  CMainFrame frame;
  QImage image(frame.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  frame.render(&image);
  EXPECT_EQ(image.pixelColor(95, 66), QColor(192, 192, 192));
}

TEST(AboutBoxTest, ShowsTitleAndVersionLine) {
  CAboutBox about;
  EXPECT_EQ(about.windowTitle(), "About Kestrel");
  auto* version = about.findChild<QLabel*>("version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Kestrel Version 1.3.3.3");
  test::CModalScript script;
  script.Handle([](QWidget* w) { w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_TRUE(script.Done());
}

}  // namespace
}  // namespace kestrel
