// The tray program on a real X server with a real tray: Xvfb with trayer as
// the notification area, kestrel and jotter as separate processes, driven
// with xdotool as a user would. The icon docks, its menu opens and each item
// in menu order does its job (Settings, Jotter, Help, About, Exit), and the
// program ends on Exit. Screenshots of the menu, every sheet page, Jotter and
// the about box are taken on the way; with KESTREL_SCREENSHOT_DIR set they are
// copied there (that is how docs/screenshots is made).
//
// Skipped when Xvfb, trayer, xdotool, xwininfo or import is missing.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "store/forwarding_table.h"
#include "store/journal.h"
#include "store/odbc_connection.h"
#include "tests/support/local_time.h"
#include "tests/capi/line_sim.h"
#include "tests/convert/page_render.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"

namespace kestrel {
namespace {

using test::WaitUntil;

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// One X server with a tray, for this test only.
class CXSession {
 public:
  CXSession() {
    test::EndWithThisProcess(xvfb_);
    test::EndWithThisProcess(trayer_);
    xvfb_.setProgram(QStringLiteral("Xvfb"));
    xvfb_.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    xvfb_.start();
    if (!xvfb_.waitForStarted(5000)) return;
    QByteArray out;
    WaitUntil([&] {
      out += xvfb_.readAllStandardOutput();
      return out.contains('\n') || xvfb_.state() != QProcess::Running;
    }, 15000);
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) return;
    display_ = QStringLiteral(":%1").arg(number);
    trayer_.setProcessEnvironment(Environment());
    trayer_.setProgram(QStringLiteral("trayer"));
    trayer_.setArguments({"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "40",
                          "--SetDockType", "true", "--SetPartialStrut", "true", "--transparent", "false"});
    trayer_.start();
    trayer_.waitForStarted(5000);
    WaitUntil([&] { return !Run("xdotool", {"search", "--name", "^panel$"}).trimmed().isEmpty(); }, 15000);
  }
  ~CXSession() {
    for (QProcess* p : {&trayer_, &xvfb_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
  }
  bool Ready() const { return !display_.isEmpty() && trayer_.state() == QProcess::Running; }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
  }

  // Runs an X client to its end; its standard output.
  QString Run(const QString& program, const QStringList& args) const {
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
      p.kill();
      p.waitForFinished(2000);
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput());
  }
  void Key(const QString& keys) {
    Run("xdotool", QStringList{"key", "--delay", "80"} + keys.split(' '));
    QThread::msleep(300);
  }
  // The visible top-level window titled exactly `title`.
  QString FindWindow(const QString& title) const {
    return Run("xdotool", {"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"})
        .split('\n', Qt::SkipEmptyParts)
        .value(0);
  }
  bool WaitForWindow(const QString& title, bool shown = true, int ms = 15000) const {
    return WaitUntil([&] { return FindWindow(title).isEmpty() != shown; }, ms);
  }
  // The tray icon of `program` docked in trayer's panel, if any.
  std::optional<Geometry> DockedIcon(const QString& program) const {
    const QString panel = Run("xdotool", {"search", "--name", "^panel$"}).split('\n').value(0);
    if (panel.isEmpty()) return std::nullopt;
    static const QRegularExpression line(QStringLiteral("\"%1\"\\) +(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+ +\\+(-?\\d+)\\+(-?\\d+)"));
    const QRegularExpression mine(line.pattern().arg(QRegularExpression::escape(program)));
    const QString tree = Run("xwininfo", {"-id", panel, "-tree"});
    const auto m = mine.match(tree);
    if (!m.hasMatch()) return std::nullopt;
    return Geometry{m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt()};
  }
  // A visible popup of `program` taller than the icon: its open menu.
  QString OpenMenu(const QString& program, const Geometry& icon) const {
    for (const QString& id : Run("xdotool", {"search", "--onlyvisible", "--classname", program})
                                 .split('\n', Qt::SkipEmptyParts)) {
      static const QRegularExpression size(QStringLiteral("Geometry: (\\d+)x(\\d+)"));
      const auto m = size.match(Run("xdotool", {"getwindowgeometry", id}));
      if (m.hasMatch() && m.captured(2).toInt() > icon.height + 20 && m.captured(1).toInt() > 60) return id;
    }
    return {};
  }
  // Right-clicks the icon and waits for its menu. A freshly docked icon may
  // miss its first click while the tray still embeds it: then click again.
  bool RightClick(const Geometry& g) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      // Into the icon from outside, so that it sees the pointer enter.
      Run("xdotool", {"mousemove", "500", "400"});
      QThread::msleep(100);
      Run("xdotool", {"mousemove", QString::number(g.x + g.width / 2), QString::number(g.y + g.height / 2)});
      QThread::msleep(150);
      Run("xdotool", {"click", "3"});
      if (WaitUntil([&] { return !OpenMenu(QStringLiteral("kestrel"), g).isEmpty(); }, 3000)) {
        QThread::msleep(200);
        return true;
      }
    }
    return false;
  }
  bool Shot(const QString& window, const QString& path, const QString& crop = {}) const {
    QStringList args{"-window", window};
    if (!crop.isEmpty()) args << "-crop" << crop << "+repage";
    args << path;
    Run("import", args);
    return QFileInfo(path).size() > 0;
  }
  void Focus(const QString& window) {
    Run("xdotool", {"windowfocus", "--sync", window});
    QThread::msleep(200);
  }

 private:
  QString display_;
  QProcess xvfb_;
  QProcess trayer_;
};

bool HaveTools() {
  for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo", "import"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) return false;
  return true;
}

class TrayEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTools()) GTEST_SKIP() << "Xvfb, trayer, xdotool, xwininfo or import missing";
    sim = std::make_unique<test::CLineSim>(home.Home());
    sim->UseAsCapi(home.Home());
    shots = home.Home() + "shots/";
    std::filesystem::create_directory(shots);
  }
  void Seed() {
    ServiceSettings s;
    s.Number = "+49 30 1234567";
    s.ODBCConnect = "DSN=Kestrel";
    s.ReceivedDir = home.File("received");
    s.Address = "fax@brightwater.example";
    s.Name = "Kestrel Fax";
    s.Header = "Fax from %TSID%";
    s.SMTPServer = "mail.brightwater.example";
    s.SMTPPort = 587;
    s.AuthenticationMethod = 2;
    s.SMTP_User = "fax";
    s.SMTP_Pass = "secret";
    s.ImageFormat = ImageFormat::Png;
    s.UseImageScale = 1;
    s.ImageScaleX = 1200;
    s.RejectCallerID = 1;
    s.Logfile = 1;
    CEventLog log(home.Path());
    ASSERT_EQ(ExportSettings(SettingsFilePath(home.Path()), s, log), 0);
    std::filesystem::create_directory(home.File("received"));
    home.CreateTables();
    COdbcConnection db;
    AddForwardingRow(db, ForwardingTable::kMsn, {"1234567", "office@brightwater.example"});
    AddForwardingRow(db, ForwardingTable::kMsn, {"1234568", "sales@brightwater.example"});
    AddForwardingRow(db, ForwardingTable::kMsn, {"1234569", "accounts@brightwater.example"});
    AddForwardingRow(db, ForwardingTable::kTsid, {"0301234567", "berlin@brightwater.example"});
    AddForwardingRow(db, ForwardingTable::kTsid, {"0897654321", "munich@brightwater.example"});
    struct Fax {
      const char* sender;
      const char* time;
      int pages;
    } faxes[] = {{"0301234567", "07/12/2026 09:14:03", 2},
                 {"0897654321", "07/12/2026 11:02:47", 1},
                 {"0402223344", "08/12/2026 08:30:12", 4}};
    for (const Fax& f : faxes) {
      std::string t = f.time;
      std::string name = std::string(f.sender) + "_" + t.substr(0, 2) + "-" + t.substr(3, 2) + "-" +
                         t.substr(6, 4) + "-" + t.substr(11, 2) + "-" + t.substr(14, 2) + "-" + t.substr(17, 2) +
                         ".sff";
      // The fax itself, for the preview of its first page.
      std::vector<tools::SffMakePage> sffPages(1);
      sffPages[0].image = test::RenderLetterPage(1728, 2286, static_cast<std::uint32_t>(f.pages));
      test::WriteFileBytes(home.File("received/" + name), tools::MakeSffFile(sffPages, tools::SffMakeOptions{}));
      ASSERT_EQ(InsertJournalEntry(log, f.sender, test::LocalTime(f.time), f.pages, home.File("received/" + name)), 0);
    }
    // Jotter in the application folder, and an xdg-open that notes what the
    // desktop was asked to open.
#ifdef KESTREL_PROGRAM_JOTTER
    std::filesystem::copy_file(KESTREL_PROGRAM_JOTTER, home.File("jotter"));
#endif
    test::WriteFileBytes(home.File("kestrel-help.html"), "<html><body>Help</body></html>");
    std::filesystem::create_directory(home.Home() + "bin");
    const std::string xdgOpen = home.Home() + "bin/xdg-open";
    opened = home.Home() + "opened.txt";
    test::WriteFileBytes(xdgOpen, "#!/bin/sh\necho \"$@\" >> '" + opened + "'\n");
    std::filesystem::permissions(xdgOpen, std::filesystem::perms::owner_all);
  }
  void TearDown() override {
    if (kestrel.state() != QProcess::NotRunning) {
      kestrel.kill();
      kestrel.waitForFinished(5000);
    }
    const QByteArray target = qgetenv("KESTREL_SCREENSHOT_DIR");
    if (!target.isEmpty() && !shots.empty())
      for (const auto& e : std::filesystem::directory_iterator(shots))
        std::filesystem::copy_file(e.path(), std::filesystem::path(target.toStdString()) / e.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing);
  }
  QString Shot(const char* name) const { return QString::fromStdString(shots + name); }

  test::CDesktopHome home;
  std::unique_ptr<test::CLineSim> sim;
  std::string shots, opened;
  QProcess kestrel;
};

#ifdef KESTREL_PROGRAM_KESTREL
TEST_F(TrayEndToEndTest, IconDocksAndTheMenuRunsEachCommandInOrder) {
  Seed();
  // Under a loaded machine an X server or its tray may fail to come up; a
  // fresh one is tried before the test gives up.
  std::unique_ptr<CXSession> session;
  for (int attempt = 0; attempt < 3 && !(session && session->Ready()); ++attempt) {
    session.reset();
    session = std::make_unique<CXSession>();
  }
  CXSession& x = *session;
  ASSERT_TRUE(x.Ready()) << "Xvfb with trayer did not come up";
  QProcessEnvironment env = x.Environment();
  env.insert(QStringLiteral("PATH"), QString::fromStdString(home.Home() + "bin:") + env.value("PATH"));
  // libdbus, loaded by Qt's xcb platform, keeps a buffer until exit.
  const QString lsan = env.value(QStringLiteral("LSAN_OPTIONS"));
  env.insert(QStringLiteral("LSAN_OPTIONS"),
             (lsan.isEmpty() ? QString() : lsan + ":") + QStringLiteral("suppressions=" KESTREL_LSAN_SUPPRESSIONS));
  kestrel.setProcessEnvironment(env);
  test::EndWithThisProcess(kestrel);
  kestrel.setProgram(QStringLiteral(KESTREL_PROGRAM_KESTREL));
  kestrel.start();
  ASSERT_TRUE(kestrel.waitForStarted(5000));

  std::optional<Geometry> icon;
  ASSERT_TRUE(WaitUntil([&] { return (icon = x.DockedIcon("kestrel")).has_value(); }, 20000))
      << "the icon docks in the tray\n"
      << x.Run("xwininfo", {"-root", "-tree"}).toStdString() << "\nkestrel: "
      << kestrel.readAllStandardError().toStdString();
  ASSERT_TRUE(sim->WaitFor("LISTEN_REQ")) << "reception runs";

  // The menu, then its first item: Settings.
  ASSERT_TRUE(x.RightClick(*icon)) << "the menu opens\n" << x.Run("xwininfo", {"-root", "-tree"}).toStdString();
  const int cropX = std::max(0, icon->x + icon->width - 300);
  ASSERT_TRUE(x.Shot("root", Shot("tray-menu.png"), QStringLiteral("300x170+%1+0").arg(cropX)));
  x.Key("Down Return");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Settings")) << "the first item opens the sheet";
  const QString sheet = x.FindWindow("Kestrel Settings");
  x.Focus(sheet);
  const char* pages[] = {"settings-msn.png", "settings-fax.png", "settings-email.png", "settings-forwarding.png",
                         "settings-journal.png"};
  for (const char* page : pages) {
    QThread::msleep(300);
    // On the journal page: into the list, and the newest fax selected.
    if (page == pages[4]) x.Key("Tab Down");
    EXPECT_TRUE(x.Shot(sheet, Shot(page))) << page;
    x.Key("ctrl+Tab");
  }
  x.Key("Escape");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Settings", false)) << "Cancel closes the sheet";

  // Second item: Jotter, a process of its own.
  ASSERT_TRUE(x.RightClick(*icon));
  x.Key("Down Down Return");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Journal")) << "the second item starts Jotter";
  const QString jotter = x.FindWindow("Kestrel Journal");
  x.Focus(jotter);
  x.Key("Down");
  QThread::msleep(500);
  EXPECT_TRUE(x.Shot(jotter, Shot("jotter.png")));
  x.Focus(jotter);
  x.Key("Escape");
  EXPECT_TRUE(x.WaitForWindow("Kestrel Journal", false)) << "Jotter ends with its dialog";

  // Third item: Help, in the browser.
  ASSERT_TRUE(x.RightClick(*icon));
  x.Key("Down Down Down Return");
  EXPECT_TRUE(WaitUntil([&] { return test::FileExists(opened); }, 15000)) << "the third item opens the help page";
  if (test::FileExists(opened)) {
    EXPECT_NE(test::ReadFileBytes(opened).find("kestrel-help.html"), std::string::npos);
  }

  // Fourth item: the about box.
  ASSERT_TRUE(x.RightClick(*icon));
  x.Key("Down Down Down Down Return");
  ASSERT_TRUE(x.WaitForWindow("About Kestrel")) << "the fourth item shows the about box";
  const QString about = x.FindWindow("About Kestrel");
  QThread::msleep(300);
  EXPECT_TRUE(x.Shot(about, Shot("about.png")));
  x.Focus(about);
  x.Key("Return");
  ASSERT_TRUE(x.WaitForWindow("About Kestrel", false));

  // Last item: Exit ends the program.
  ASSERT_TRUE(x.RightClick(*icon));
  x.Key("Up Return");
  ASSERT_TRUE(WaitUntil([&] { return kestrel.state() == QProcess::NotRunning; }, 20000)) << "Exit ends kestrel";
  EXPECT_EQ(kestrel.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(kestrel.exitCode(), 0) << kestrel.readAllStandardError().toStdString();
  const auto events = test::EventDescriptions(home.Path());
  EXPECT_NE(std::find(events.begin(), events.end(), test::LoggedForm("End Session")), events.end());
}
#endif

}  // namespace
}  // namespace kestrel
