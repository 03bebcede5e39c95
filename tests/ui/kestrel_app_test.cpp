// The tray program's application object with the real sheet, real message
// boxes, the real libcapi20 against capi-linesim and the embedded SQLite
// store: the first run (the not-configured notice, the sheet, reception
// started once), OK replacing the worker and Cancel keeping it, the sheet
// never opened twice, a data source that cannot be opened, the message where
// no tray exists, the tray menu's Settings, Jotter, Help, About and Exit
// actions, and a second kestrel process that only brings the first forward.
#include "ui/kestrel_app.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "core/string_table.h"
#include "desktop/instance_checker.h"
#include "desktop/message_box.h"
#include "service/service_app.h"
#include "service/service_lock.h"
#include "tests/capi/line_sim.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"
#include "ui/main_frame.h"
#include "ui/options_sheet.h"

namespace kestrel {
namespace {

using test::CModalScript;
using test::COpenRecorder;
using test::WaitUntil;

QPushButton* Button(QWidget* sheet, QDialogButtonBox::StandardButton which) {
  return sheet->findChild<QDialogButtonBox*>()->button(which);
}

class KestrelAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    sim = std::make_unique<test::CLineSim>(home.Home());
    sim->UseAsCapi(home.Home());
  }
  void TearDown() override {
    if (app.Service()) app.ExitInstance();
  }
  ServiceSettings Complete() const {
    ServiceSettings s;
    s.Number = "+49 30 1234567";
    s.ODBCConnect = "DSN=Kestrel";
    s.ReceivedDir = home.File("received");
    s.All = 1;
    s.EmailAll = "office@kestrel.test";
    s.Address = "fax@kestrel.test";
    s.Name = "Kestrel Fax";
    s.Header = "Fax from %TSID%";
    s.SMTPServer = "127.0.0.1";
    s.SMTPPort = 2525;
    s.ImageFormat = ImageFormat::Png;
    return s;
  }
  void WriteSettings(const ServiceSettings& s) {
    CEventLog log(home.Path());
    ASSERT_TRUE(ExportSettings(SettingsFilePath(home.Path()), s, log));
  }
  CTrayIcon& Tray() { return app.MainFrame()->TrayIcon(); }
  int Count(const std::string& event) {
    auto events = test::EventDescriptions(home.Path());
    return static_cast<int>(std::count(events.begin(), events.end(), test::LoggedForm(event)));
  }
  ServiceSettings Stored() {
    ServiceSettings s;
    CEventLog log(home.Path());
    EXPECT_TRUE(ImportSettings(SettingsFilePath(home.Path()), s, log));
    return s;
  }

  test::CDesktopHome home;
  std::unique_ptr<test::CLineSim> sim;
  CKestrelApp app;
};

TEST_F(KestrelAppTest, StartedWhereAServiceRunsItSaysSoAndEnds) {
  WriteSettings(Complete());
  CServiceLock running;  // as kestreld holds it
  ASSERT_TRUE(running.Acquire(home.Path()));
  CModalScript script;
  script.AnswerBox();
  EXPECT_FALSE(app.InitInstance());
  ASSERT_TRUE(script.Done()) << script.Failure();
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].text.toStdString(),
            "Kestrel already runs for " + home.Path() + " (process " + std::to_string(::getpid()) + ").");
  EXPECT_TRUE(sim->RecordsStartingWith("REGISTER").empty()) << "the line stays with the running service";
}

TEST_F(KestrelAppTest, FirstRunExplainsShowsTheSheetAndStartsReceptionOnce) {
  CModalScript script;
  bool databaseOpenDuringSheet = true;
  script.AnswerBox().Handle([&](QWidget* w) {
    auto* sheet = qobject_cast<COptionsSheet*>(w);
    ASSERT_NE(sheet, nullptr);
    sheet->Tabs()->setCurrentIndex(1);
    sheet->findChild<QLineEdit*>("receivedDir")->setText(QString::fromStdString(home.File("received")));
    sheet->findChild<QLineEdit*>("odbcConnect")->setText("DSN=Kestrel");
    sheet->Tabs()->setCurrentIndex(2);
    sheet->findChild<QLineEdit*>("name")->setText("Kestrel Fax");
    sheet->findChild<QLineEdit*>("address")->setText("fax@kestrel.test");
    sheet->findChild<QLineEdit*>("smtpServer")->setText("127.0.0.1");
    sheet->Tabs()->setCurrentIndex(0);
    // Nothing has registered with CAPI while the sheet is open.
    databaseOpenDuringSheet = !sim->RecordsStartingWith("REGISTER").empty();
    Button(w, QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(script.Done()) << script.Failure();
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  ASSERT_GE(script.Boxes().size(), 1u);
  EXPECT_EQ(script.Boxes()[0].text.toStdString(), LoadString(IDS_NOT_CONFIGURED));
  EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Information);
  EXPECT_EQ(script.Boxes()[0].caption, "Brightwater Kestrel");
  EXPECT_FALSE(databaseOpenDuringSheet);
  ASSERT_TRUE(sim->WaitFor("LISTEN_REQ"));
  EXPECT_EQ(sim->RecordsStartingWith("REGISTER").size(), 1u) << "reception starts once";
  EXPECT_TRUE(app.Service()->ReceptionRunning());
  EXPECT_EQ(Stored().SMTPServer, "127.0.0.1");
  EXPECT_TRUE(app.MainFrame()->TrayIcon().IconShown());
}

TEST_F(KestrelAppTest, SettingsOkGivesTheRunningWorkerTheNewValuesAndCancelKeepsThem) {
  WriteSettings(Complete());
  CModalScript script(10000);
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(sim->WaitFor("LISTEN_REQ"));
  const std::string xmlBefore = test::ReadFileBytes(SettingsFilePath(home.Path()));

  script.Handle([](QWidget* w) {
    auto* sheet = qobject_cast<COptionsSheet*>(w);
    sheet->Tabs()->setCurrentIndex(2);
    sheet->findChild<QLineEdit*>("smtpPort")->setText("2626");
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  Tray().SettingsAction()->trigger();
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(Count("End Session"), 0);
  EXPECT_EQ(Count("Init Session"), 1);
  EXPECT_EQ(test::ReadFileBytes(SettingsFilePath(home.Path())), xmlBefore);
  EXPECT_EQ(app.Service()->Settings().SMTPPort, 2525);
  EXPECT_TRUE(app.Service()->ReceptionRunning());

  script.Handle([](QWidget* w) {
    auto* sheet = qobject_cast<COptionsSheet*>(w);
    sheet->Tabs()->setCurrentIndex(2);
    sheet->findChild<QLineEdit*>("smtpPort")->setText("2626");
    Button(w, QDialogButtonBox::Ok)->click();
  });
  Tray().SettingsAction()->trigger();
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(Stored().SMTPPort, 2626);
  EXPECT_EQ(app.Service()->Settings().SMTPPort, 2626);
  ASSERT_TRUE(test::Eventually([&] {
    return Count("The reception uses the new settings from the next call on.") == 1;
  })) << "the running worker takes them";
  EXPECT_EQ(Count("End Session"), 0);
  EXPECT_EQ(Count("Init Session"), 1);
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
}

TEST_F(KestrelAppTest, SettingsCommandWhileTheSheetIsOpenDoesNothing) {
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  CModalScript script;
  int sheets = 0;
  script.Handle([&](QWidget* w) {
    ++sheets;
    // A second double-click on the icon.
    app.MainFrame()->TrayIcon().OnTrayNotification(QSystemTrayIcon::DoubleClick);
    QTest::qWait(100);
    EXPECT_EQ(QApplication::activeModalWidget(), w);
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  app.MainFrame()->TrayIcon().OnTrayNotification(QSystemTrayIcon::DoubleClick);
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(sheets, 1);
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  EXPECT_FALSE(app.Service()->SettingsSheetOpen());
}

// The offscreen platform has no notification area, like a desktop without a
// tray: one message that does not block, reception going on, and a second
// start of kestrel opening the settings.
TEST_F(KestrelAppTest, WithoutATrayItSaysSoOnceAndAnotherStartOpensTheSettings) {
  const auto shownBoxes = [] {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->objectName() == QStringLiteral("noTrayMessage"))
        boxes.push_back(qobject_cast<QMessageBox*>(w));
    return boxes;
  };
  for (QMessageBox* left : shownBoxes()) left->close();  // from earlier cases
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  ASSERT_EQ(shownBoxes().size(), 1u);
  QMessageBox* box = shownBoxes()[0];
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QString::fromUtf8(CKestrelApp::kNoTrayText));
  EXPECT_FALSE(box->isModal());
  EXPECT_TRUE(sim->WaitFor("LISTEN_REQ")) << "reception runs while the message is up";
  EXPECT_FALSE(app.ReportMissingTray());
  EXPECT_EQ(shownBoxes().size(), 1u) << "said once";

  CModalScript script;
  bool sheet = false;
  script.Handle([&](QWidget* w) {
    sheet = qobject_cast<COptionsSheet*>(w) != nullptr;
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  emit app.Guard()->ActivationRequested();
  ASSERT_TRUE(WaitUntil([&] { return script.Done(); }));
  EXPECT_TRUE(sheet) << "a second start opens the settings";
  box->close();
}

TEST_F(KestrelAppTest, DataSourceThatCannotBeOpenedIsReportedAndNothingRegisters) {
  WriteSettings(Complete());
  test::WriteFileBytes(home.Home() + "odbc.ini", "[Kestrel]\nDriver=NoSuchKestrelDriver\n");
  CModalScript script;
  script.AnswerBox().AnswerBox();
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(script.Done()) << script.Failure();
  ASSERT_EQ(script.Boxes().size(), 2u);
  const std::string last = script.Boxes()[1].text.toStdString();
  EXPECT_EQ(last.rfind(std::string(LoadString(IDS_DATABASE_OPEN_FAILED)) + "\nUrsache:\n", 0), 0u) << last;
  EXPECT_GT(last.size(), std::string(LoadString(IDS_DATABASE_OPEN_FAILED)).size() + 10) << "the reason follows";
  EXPECT_EQ(script.Boxes()[1].icon, QMessageBox::Critical);
  EXPECT_TRUE(app.MainFrame()->TrayIcon().IconShown()) << "the tray icon stays";
  QTest::qWait(300);
  EXPECT_TRUE(sim->RecordsStartingWith("REGISTER").empty());
  EXPECT_FALSE(app.Service()->ReceptionRunning());
}

TEST_F(KestrelAppTest, JotterCommandStartsJotterFromTheApplicationFolder) {
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  CModalScript script;
  script.AnswerBox();
  Tray().JotterAction()->trigger();
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"Jotter does not exist in the application folder."});
  EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Warning);
#ifdef KESTREL_PROGRAM_JOTTER
  std::filesystem::copy_file(KESTREL_PROGRAM_JOTTER, home.File("jotter"));
  Tray().JotterAction()->trigger();
  const std::string lock = home.Home() + "run/CInstanceChecker_MMF_Jotter";
  ASSERT_TRUE(WaitUntil([&] { return test::FileExists(lock) && !test::ReadFileBytes(lock).empty(); }, 20000));
  const int pid = std::stoi(test::ReadFileBytes(lock));
  ASSERT_GT(pid, 0);
  ::kill(pid, SIGKILL);
#endif
}

TEST_F(KestrelAppTest, HelpOpensThePageOfTheApplicationFolder) {
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  COpenRecorder opened;
  CModalScript script;
  script.AnswerBox();
  Tray().HelpAction()->trigger();
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(opened.opened.isEmpty());
  test::WriteFileBytes(home.File("kestrel-help.html"), "<html></html>");
  Tray().HelpAction()->trigger();
  ASSERT_EQ(opened.opened.size(), 1);
  EXPECT_EQ(opened.opened[0].toLocalFile().toStdString(), home.File("kestrel-help.html"));
}

TEST_F(KestrelAppTest, AboutShowsTheAboutBox) {
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  CModalScript script;
  QString title;
  script.Handle([&](QWidget* w) {
    title = w->windowTitle();
    qobject_cast<QDialog*>(w)->accept();
  });
  Tray().AboutAction()->trigger();
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(title, "About Kestrel");
}

TEST_F(KestrelAppTest, ExitEndsTheProgramThroughExitInstance) {
  WriteSettings(Complete());
  ASSERT_TRUE(app.InitInstance());
  ASSERT_TRUE(sim->WaitFor("LISTEN_REQ"));
  QSignalSpy exit(&app, &CKestrelApp::ExitRequested);
  Tray().ExitAction()->trigger();
  EXPECT_EQ(exit.size(), 1);
  EXPECT_TRUE(app.MainFrame()->ExitFlag());
  app.ExitInstance();
  EXPECT_EQ(Count("End Session"), 1);
  EXPECT_FALSE(app.Service()->ReceptionRunning());
}

#ifdef KESTREL_PROGRAM_KESTREL
TEST_F(KestrelAppTest, SecondKestrelProcessBringsTheFirstForwardAndTouchesNothing) {
  QWidget window;
  window.showMinimized();
  CInstanceChecker first(QStringLiteral("Brightwater Kestrel"));
  ASSERT_FALSE(first.PreviousInstanceRunning());
  first.TrackFirstInstanceRunning(&window);
  QSignalSpy activations(&first, &CInstanceChecker::ActivationRequested);

  QProcess second;
  test::EndWithThisProcess(second);
  second.setProgram(QStringLiteral(KESTREL_PROGRAM_KESTREL));
  second.start();
  ASSERT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  ASSERT_TRUE(WaitUntil([&] { return activations.size() == 1; }));
  EXPECT_FALSE(window.isMinimized());
  // No settings, event log, database or CAPI registration.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(home.Path())) left.push_back(e.path().filename());
  EXPECT_TRUE(left.empty()) << left.front();
  EXPECT_TRUE(sim->RecordsStartingWith("REGISTER").empty());
}
#endif

}  // namespace
}  // namespace kestrel
