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

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "core/event_log.h"
#include "core/settings_file.h"
#include "store/forwarding_table.h"
#include "store/journal.h"
#include "store/odbc_connection.h"
#include "tests/capi/line_sim.h"
#include "tests/convert/page_render.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"

namespace kestrel {
namespace {

using test::WaitUntil;

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  QString window;
  bool operator==(const Geometry&) const = default;
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
    WaitUntil(
        [&] {
          out += xvfb_.readAllStandardOutput();
          return out.contains('\n') || xvfb_.state() != QProcess::Running;
        },
        15000);
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
  // Types `keys` into the focused window. The X server queues them in order;
  // what they do is waited for by the caller.
  void Key(const QString& keys) { Run("xdotool", QStringList{"key", "--delay", "80"} + keys.split(' ')); }
  // The window's pixels (empty when it cannot be read).
  QByteArray Pixels(const QString& window) const {
    QProcess p;
    p.setProcessEnvironment(Environment());
    p.start(QStringLiteral("import"), {"-window", window, "-depth", "8", "rgb:-"});
    if (!p.waitForFinished(20000)) {
      p.kill();
      p.waitForFinished(2000);
      return {};
    }
    return p.readAllStandardOutput();
  }
  // Waits until the window has been painted: two readings alike, neither
  // empty nor of one colour only.
  bool WaitForPainted(const QString& window, int ms = 30000) const {
    QByteArray last;
    return WaitUntil(
        [&] {
          const QByteArray now = Pixels(window);
          const bool done = !now.isEmpty() && now == last && !OneColour(now);
          last = now;
          return done;
        },
        ms);
  }
  // Types `keys` into `window` and waits until it has repainted differently
  // and settled: the keys were handled.
  bool KeyAndWaitForChange(const QString& window, const QString& keys, int ms = 30000) {
    const QByteArray before = Pixels(window);
    Key(keys);
    QByteArray last;
    return WaitUntil(
        [&] {
          const QByteArray now = Pixels(window);
          const bool done = !now.isEmpty() && now != before && now == last;
          last = now;
          return done;
        },
        ms);
  }
  // The visible top-level window titled exactly `title`.
  QString FindWindow(const QString& title) const {
    return Run("xdotool", {"search", "--onlyvisible", "--name", "^" + QRegularExpression::escape(title) + "$"})
        .split('\n', Qt::SkipEmptyParts)
        .value(0);
  }
  bool WaitForWindow(const QString& title, bool shown = true, int ms = 30000) const {
    return WaitUntil([&] { return FindWindow(title).isEmpty() != shown; }, ms);
  }
  // The tray icon of `program` docked in trayer's panel, if any.
  std::optional<Geometry> DockedIcon(const QString& program) const {
    const QString panel = Run("xdotool", {"search", "--name", "^panel$"}).split('\n').value(0);
    if (panel.isEmpty()) return std::nullopt;
    static const QRegularExpression line(
        QStringLiteral("(0x[0-9a-f]+) [^\n]*\"%1\"\\) +(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+ +\\+(-?\\d+)\\+(-?\\d+)"));
    const QRegularExpression mine(line.pattern().arg(QRegularExpression::escape(program)));
    const QString tree = Run("xwininfo", {"-id", panel, "-tree"});
    const auto m = mine.match(tree);
    if (!m.hasMatch()) return std::nullopt;
    return Geometry{m.captured(4).toInt(), m.captured(5).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                    m.captured(1)};
  }
  // The icon of `program` once the tray has embedded it: mapped, with the
  // same place in two readings (the panel moves it while it docks).
  std::optional<Geometry> EmbeddedIcon(const QString& program, int ms = 30000) const {
    std::optional<Geometry> last, now;
    WaitUntil(
        [&] {
          now = DockedIcon(program);
          const bool done = now && last && *now == *last &&
                            Run("xwininfo", {"-id", now->window}).contains(QStringLiteral("Map State: IsViewable"));
          last = now;
          return done;
        },
        ms);
    return now && last && *now == *last ? now : std::nullopt;
  }
  // The visible windows of `program` with their sizes.
  std::vector<std::pair<QString, Geometry>> VisibleWindows(const QString& program) const {
    std::vector<std::pair<QString, Geometry>> found;
    static const QRegularExpression where(
        QStringLiteral("Position: (-?\\d+),(-?\\d+)[^\n]*\n *Geometry: (\\d+)x(\\d+)"));
    for (const QString& id :
         Run("xdotool", {"search", "--onlyvisible", "--classname", program}).split('\n', Qt::SkipEmptyParts)) {
      const auto m = where.match(Run("xdotool", {"getwindowgeometry", id}));
      if (m.hasMatch())
        found.push_back({id, Geometry{m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                      m.captured(4).toInt(), id}});
    }
    return found;
  }
  // A visible popup of `program` taller than the icon: its open menu.
  QString OpenMenu(const QString& program, const Geometry& icon) const {
    for (const auto& [id, g] : VisibleWindows(program))
      if (g.height > icon.height + 20 && g.width > 60) return id;
    return {};
  }
  // Puts the pointer on the icon, coming from outside so that it sees the
  // pointer enter; --sync waits until the server has moved it.
  void PointAt(const Geometry& g) {
    Run("xdotool", {"mousemove", "--sync", "500", "400"});
    Run("xdotool", {"mousemove", "--sync", QString::number(g.x + g.width / 2), QString::number(g.y + g.height / 2)});
  }
  // Right-clicks the embedded icon and waits until its menu is mapped and
  // painted. Should the click still be lost, the menu never shows, and one
  // more click cannot close a menu that is already open.
  bool RightClick(const QString& program, const Geometry& g) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      PointAt(g);
      Run("xdotool", {"click", "3"});
      QString menu;
      if (WaitUntil([&] { return !(menu = OpenMenu(program, g)).isEmpty(); }, 30000)) return WaitForPainted(menu);
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
  // A crop of the root window around `g`, with a margin.
  bool ShotAround(const Geometry& g, const QString& path, int margin = 8) const {
    const int x = std::max(0, g.x - margin), y = std::max(0, g.y - margin);
    return Shot(QStringLiteral("root"), path,
                QStringLiteral("%1x%2+%3+%4").arg(g.width + 2 * margin).arg(g.height + 2 * margin).arg(x).arg(y));
  }
  void Focus(const QString& window) { Run("xdotool", {"windowfocus", "--sync", window}); }

 private:
  static bool OneColour(const QByteArray& rgb) {
    for (qsizetype i = 3; i + 2 < rgb.size(); i += 3)
      if (rgb[i] != rgb[0] || rgb[i + 1] != rgb[1] || rgb[i + 2] != rgb[2]) return false;
    return true;
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
    s.AuthenticationMethod = SmtpAuthentication::Login;
    s.SMTP_User = "fax";
    s.SMTP_Pass = "secret";
    s.ImageFormat = ImageFormat::Png;
    s.UseImageScale = 1;
    s.ImageScaleX = 1200;
    s.RejectCallerID = 1;
    s.Logfile = 1;
    CEventLog log(home.Path());
    ASSERT_TRUE(ExportSettings(SettingsFilePath(home.Path()), s, log));
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
      std::string name = std::string(f.sender) + "_" + t.substr(0, 2) + "-" + t.substr(3, 2) + "-" + t.substr(6, 4) +
                         "-" + t.substr(11, 2) + "-" + t.substr(14, 2) + "-" + t.substr(17, 2) + ".sff";
      // The fax itself, for the preview of its first page.
      std::vector<tools::SffMakePage> sffPages(1);
      sffPages[0].image = test::RenderLetterPage(1728, 2286, static_cast<std::uint32_t>(f.pages));
      test::WriteFileBytes(home.File("received/" + name), tools::MakeSffFile(sffPages, tools::SffMakeOptions{}));
      if (firstFax.empty()) firstFax = name;
      ASSERT_TRUE(
          InsertJournalEntry(log, f.sender, test::LocalTime(f.time), f.pages, home.File("received/" + name)).Ok());
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
  std::string shots, opened, firstFax;
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
  ASSERT_TRUE((icon = x.EmbeddedIcon("kestrel")).has_value())
      << "the icon docks in the tray\n"
      << x.Run("xwininfo", {"-root", "-tree"}).toStdString()
      << "\nkestrel: " << kestrel.readAllStandardError().toStdString();
  ASSERT_TRUE(sim->WaitFor("LISTEN_REQ", 1, std::chrono::seconds(30))) << "reception runs";

  // The menu, then its first item: Settings.
  ASSERT_TRUE(x.RightClick("kestrel", *icon)) << "the menu opens\n"
                                              << x.Run("xwininfo", {"-root", "-tree"}).toStdString();
  const int cropX = std::max(0, icon->x + icon->width - 300);
  ASSERT_TRUE(x.Shot("root", Shot("tray-menu.png"), QStringLiteral("300x170+%1+0").arg(cropX)));
  x.Key("Down Return");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Settings")) << "the first item opens the sheet";
  const QString sheet = x.FindWindow("Kestrel Settings");
  x.Focus(sheet);
  ASSERT_TRUE(x.WaitForPainted(sheet));
  const char* pages[] = {"settings-msn.png", "settings-fax.png", "settings-email.png", "settings-forwarding.png",
                         "settings-journal.png"};
  for (const char* page : pages) {
    // On the journal page: into the list, and the newest fax selected.
    if (page == pages[4]) {
      EXPECT_TRUE(x.KeyAndWaitForChange(sheet, "Tab Down")) << "a journal row is selected";
    }
    EXPECT_TRUE(x.Shot(sheet, Shot(page))) << page;
    EXPECT_TRUE(x.KeyAndWaitForChange(sheet, "ctrl+Tab")) << "the page after " << page << " shows";
  }
  x.Key("Escape");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Settings", false)) << "Cancel closes the sheet";

  // Second item: Jotter, a process of its own.
  ASSERT_TRUE(x.RightClick("kestrel", *icon));
  x.Key("Down Down Return");
  ASSERT_TRUE(x.WaitForWindow("Kestrel Journal")) << "the second item starts Jotter";
  const QString jotter = x.FindWindow("Kestrel Journal");
  x.Focus(jotter);
  ASSERT_TRUE(x.WaitForPainted(jotter));
  EXPECT_TRUE(x.KeyAndWaitForChange(jotter, "Down")) << "the newest fax is selected";
  EXPECT_TRUE(x.Shot(jotter, Shot("jotter.png")));
  // The find key leads to the filter field: part of a number narrows the list.
  EXPECT_TRUE(x.KeyAndWaitForChange(jotter, "ctrl+f 0 3 0")) << "the filter narrows the list";
  EXPECT_TRUE(x.Shot(jotter, Shot("jotter-filter.png")));
  x.Focus(jotter);
  x.Key("Escape");
  EXPECT_TRUE(x.WaitForWindow("Kestrel Journal", false)) << "Jotter ends with its dialog";

  // Third item: Help, in the browser.
  ASSERT_TRUE(x.RightClick("kestrel", *icon));
  x.Key("Down Down Down Return");
  // The browser stand-in creates its file before it writes the line: wait for the line.
  EXPECT_TRUE(
      WaitUntil([&] { return test::ReadFileBytes(opened).find("kestrel-help.html") != std::string::npos; }, 30000))
      << "the third item opens the help page: " << test::ReadFileBytes(opened);

  // Fourth item: the about box.
  ASSERT_TRUE(x.RightClick("kestrel", *icon));
  x.Key("Down Down Down Down Return");
  ASSERT_TRUE(x.WaitForWindow("About Kestrel")) << "the fourth item shows the about box";
  const QString about = x.FindWindow("About Kestrel");
  ASSERT_TRUE(x.WaitForPainted(about));
  EXPECT_TRUE(x.Shot(about, Shot("about.png")));
  x.Focus(about);
  x.Key("Return");
  ASSERT_TRUE(x.WaitForWindow("About Kestrel", false));

  // A fax arrives; its mail server cannot be reached, so the mail is queued.
  // Without a notification service the tray shows the message, and the
  // tooltip counts the queued mail.
  const auto before = x.VisibleWindows("kestrel");
  const auto isNew = [&](const QString& id) {
    return std::none_of(before.begin(), before.end(), [&](const auto& w) { return w.first == id; });
  };
  sim->Command("call shot called=1234567 caller=0301234567 sff=" + home.File("received/" + firstFax) +
               " pages=2 rate=14400 id=4930999");
  std::optional<Geometry> balloon;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (const auto& [id, g] : x.VisibleWindows("kestrel"))
          if (isNew(id) && g.width > 100) balloon = g;
        return balloon.has_value();
      },
      60000))
      << "the fax's message shows";
  if (balloon) {
    EXPECT_TRUE(x.WaitForPainted(balloon->window));
    EXPECT_TRUE(x.ShotAround(*balloon, Shot("notification.png")));
  }
  // A click on the message opens the fax, and closes the message.
  if (balloon) {
    x.Run("xdotool", {"mousemove", "--sync", QString::number(balloon->x + balloon->width / 2),
                      QString::number(balloon->y + balloon->height / 2)});
    x.Run("xdotool", {"click", "1"});
    EXPECT_TRUE(WaitUntil([&] { return test::ReadFileBytes(opened).find("0301234567_") != std::string::npos; }, 30000))
        << "the message opens the fax: " << test::ReadFileBytes(opened);
    EXPECT_TRUE(WaitUntil([&] { return x.VisibleWindows("kestrel").size() <= before.size(); }, 30000))
        << "the message goes";
  }
  // Resting on the icon shows the tooltip.
  x.PointAt(*icon);
  std::optional<Geometry> tip;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (const auto& [id, g] : x.VisibleWindows("kestrel"))
          if (isNew(id) && g.width > icon->width) tip = g;
        return tip.has_value();
      },
      30000))
      << "the tooltip shows";
  if (tip) {
    EXPECT_TRUE(x.WaitForPainted(tip->window));
    EXPECT_TRUE(x.ShotAround(*tip, Shot("tray-tooltip.png")));
  }

  // Last item: Exit ends the program.
  ASSERT_TRUE(x.RightClick("kestrel", *icon));
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
