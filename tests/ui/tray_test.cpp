// The hidden main frame and its tray icon: menu 139 in order with its
// mnemonics and the first item as default, the tooltip and its 63-character
// limit, the double-click that sends the Settings command, the frame that only
// hides unless Exit set its flag, and the about box.
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
#include "ui/about_dlg.h"
#include "ui/main_frame.h"
#include "ui/resource.h"

namespace kestrel {
namespace {

TEST(TrayIconTest, MenuHoldsTheCommandsInOrderWithSettingsAsDefault) {
  CMainFrame frame;
  QMenu* menu = frame.TrayIcon().Menu();
  ASSERT_NE(menu, nullptr);
  QStringList items;
  std::vector<int> commands;
  for (QAction* a : menu->actions()) {
    items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    if (!a->isSeparator()) commands.push_back(a->data().toInt());
  }
  EXPECT_EQ(items, (QStringList{"S&ettings...", "-", "&Jotter...", "-", "&Help", "Ab&out Kestrel...", "-",
                                "E&xit"}));
  EXPECT_EQ(commands, (std::vector<int>{32776, 32784, 57670, 57664, 32775}));
  EXPECT_EQ(menu->defaultAction(), menu->actions().first());
  EXPECT_EQ(frame.TrayIcon().ToolTip(), "Brightwater Kestrel");
  EXPECT_TRUE(frame.TrayIcon().IconShown());
}

TEST(TrayIconTest, MenuItemsAndDoubleClickSendTheirCommandsToTheApplication) {
  CMainFrame frame;
  QSignalSpy commands(&frame, &CMainFrame::ApplicationCommand);
  EXPECT_TRUE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::DoubleClick));
  frame.TrayIcon().Menu()->actions().at(2)->trigger();   // &Jotter...
  frame.TrayIcon().Menu()->actions().at(5)->trigger();   // Ab&out Kestrel...
  EXPECT_FALSE(frame.TrayIcon().OnTrayNotification(QSystemTrayIcon::Trigger));
  ASSERT_EQ(commands.size(), 3);
  EXPECT_EQ(commands[0][0].toInt(), ID_SETTINGS);
  EXPECT_EQ(commands[1][0].toInt(), ID_JOTTER);
  EXPECT_EQ(commands[2][0].toInt(), ID_APP_ABOUT);
}

TEST(TrayIconTest, MnemonicOpensTheItemFromTheOpenMenu) {
  CMainFrame frame;
  QSignalSpy commands(&frame, &CMainFrame::ApplicationCommand);
  QMenu* menu = frame.TrayIcon().Menu();
  menu->popup(QPoint(100, 100));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
  QTest::keyClick(menu, Qt::Key_O);
  ASSERT_TRUE(test::WaitUntil([&] { return commands.size() == 1; }));
  EXPECT_EQ(commands[0][0].toInt(), ID_APP_ABOUT);
}

TEST(TrayIconTest, TooltipIsCutToSixtyThreeCharacters) {
  CTrayIcon icon;
  const QString longText(80, QLatin1Char('x'));
  icon.SetIcon(QIcon(QPixmap(16, 16)), &longText);
  EXPECT_EQ(icon.ToolTip().size(), 63);
  EXPECT_TRUE(icon.IconShown());
  EXPECT_FALSE(icon.SetIcon(4711));
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
  QSignalSpy commands(&frame, &CMainFrame::ApplicationCommand);
  frame.TrayIcon().Menu()->actions().last()->trigger();  // E&xit
  EXPECT_TRUE(frame.ExitFlag());
  EXPECT_EQ(closed.size(), 1);
  EXPECT_EQ(commands.size(), 0);
}

TEST(MainFrameTest, PaintsItselfLightGrey) {
  CMainFrame frame;
  QImage image(frame.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  frame.render(&image);
  EXPECT_EQ(image.pixelColor(95, 66), QColor(192, 192, 192));
}

TEST(AboutBoxTest, ShowsTitleAndVersionLine) {
  CAboutDlg about;
  EXPECT_EQ(about.windowTitle(), "About Kestrel");
  auto* version = about.findChild<QLabel*>("version");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Kestrel Version 1.3.3.3");
  test::CModalScript script;
  script.Handle([](QWidget* w) {
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_TRUE(script.Done());
}

}  // namespace
}  // namespace kestrel
