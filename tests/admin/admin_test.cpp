// kestrel-admin as a process against a temporary application folder: each
// command's output and exit status, each refusal text, over the embedded
// SQLite store and PostgreSQL, and with a running kestreld (settings reload,
// queue sent at once, status when the line is gone).
#include <gtest/gtest.h>

#include <regex>

#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>

#include <tuple>

#include "core/setting_table.h"
#include "tests/apps/kestreld_process.h"
#include "tests/store/test_database.h"
#include "tests/support/local_time.h"

namespace kestrel::test {
namespace {

// The test folders lie outside /tmp (set before any fixture makes one), since
// kestrel-admin refuses a received folder there.
[[maybe_unused]] const bool kFoldersOutsideTmp = ::setenv("TMPDIR", KESTREL_ADMIN_TEST_TMPDIR, 1) == 0;

struct AdminRun {
  int status;
  std::string out;
  std::string err;
};

class Admin : public Kestreld {
 protected:
  std::vector<std::string> Environment() {
    // psqlODBC keeps a few allocations until the process ends; the store
    // tests suppress the same in their own process.
    WriteFileBytes(home_.File("lsan.supp"), "leak:psqlodbcw.so\nleak:psqlodbca.so\n");
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("LSAN_OPTIONS=", 0) != 0) environment.push_back(*e);
    const char* lsan = std::getenv("LSAN_OPTIONS");
    environment.push_back("LSAN_OPTIONS=" + (lsan ? std::string(lsan) + ":" : std::string()) +
                          "print_suppressions=0:suppressions=" + home_.File("lsan.supp"));
    return environment;
  }

  // `input` is what kestrel-admin reads on standard input.
  AdminRun RunAdmin(const std::vector<std::string>& args, const std::string& input = "") {
    WriteFileBytes(home_.File("admin.in"), input);
    std::vector<std::string> all = {KESTREL_ADMIN, "--home", app_.Path()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, home_.File("admin.in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, home_.File("admin.out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, home_.File("admin.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> environment = Environment();
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, KESTREL_ADMIN, &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    const int status = WaitProcess(pid, 60s);
    return {status, ReadFileBytes(home_.File("admin.out")), ReadFileBytes(home_.File("admin.err"))};
  }
};

// One command and what it must answer: the whole standard output when `out`
// is set, the whole standard error when `err` is set ("": none, otherwise
// the refusal line of that text).
struct Step {
  std::vector<std::string> args;
  int status;
  std::optional<std::string> out;
  std::optional<std::string> err;
};

class AdminTest : public Admin {
 protected:
  void Steps(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      std::string line;
      for (const auto& a : step.args) line += a + " ";
      AdminRun r = RunAdmin(step.args);
      EXPECT_EQ(r.status, step.status) << line << "\n" << r.err;
      if (step.out) {
        EXPECT_EQ(r.out, *step.out) << line;
      }
      if (step.err) {
        EXPECT_EQ(r.err, step.err->empty() ? "" : "kestrel-admin: " + *step.err + "\n") << line;
      }
    }
  }
  std::string Setting(const std::string& key) {
    for (std::string rest = RunAdmin({"settings"}).out; !rest.empty();) {
      const std::string line = rest.substr(0, rest.find('\n'));
      rest.erase(0, line.size() + 1);
      if (line.rfind(key + " ", 0) == 0) return line.substr(28);
    }
    return "?";
  }
};

TEST_F(AdminTest, CommandLinesThatDoNotParseExitWithTwo) {
  EXPECT_EQ(RunAdmin({"--help"}).status, 0);
  EXPECT_NE(RunAdmin({"--help"}).out.find("settings set KEY VALUE"), std::string::npos);
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"frobnicate"},
                                                                {"settings", "set", "SMTPPort"},
                                                                {"settings", "set", "NoSuchKey", "1"},
                                                                {"msn"},
                                                                {"msn", "add", "1"},
                                                                {"journal", "list", "--limit", "x"},
                                                                {"queue", "delete"},
                                                                {"status", "x"}})
    EXPECT_EQ(RunAdmin(args).status, 2) << (args.empty() ? "" : args[0]);
}

TEST_F(AdminTest, SettingsSetRefusesBadValuesByNameAndWritesNothing) {
  Steps({
      {{"settings", "set", "SMTPPort", "abc"},
       1,
       "",
       "SmtpPortReceive holds \"abc\"; it takes a number from 1 to 65535."},
      {{"settings", "set", "SmtpPortReceive", "70000"},
       1,
       "",
       "SmtpPortReceive holds \"70000\"; it takes a number from 1 to 65535."},
      {{"settings", "set", "ImageScaleX", "7x"}, 1, "", "ImageScale holds \"7x\"; it takes a whole number."},
      {{"settings", "set", "ImageScaleX", "-5"},
       1,
       "",
       "ImageScale holds \"-5\"; it takes a width in pixels from 1 to 10000."},
      {{"settings", "set", "Address", "not-an-address"},
       1,
       "",
       "EmailAddress holds \"not-an-address\"; it takes an e-mail address (name@example.org)."},
      {{"settings", "set", "EmailAll", "nobody"},
       1,
       "",
       "EmailAll holds \"nobody\"; it takes an e-mail address (name@example.org) or nothing."},
      {{"settings", "set", "SMTPCAFile", "/nonexistent.pem"},
       1,
       "",
       "SmtpCAFile holds \"/nonexistent.pem\"; it takes a readable file or nothing (No such file or directory)."},
      {{"settings", "set", "OcrLanguages", "xyz"}, 1, std::nullopt, std::nullopt},
      {{"settings", "set", "SMTPServer", ""},
       1,
       "",
       "SmtpServerReceive may not be empty: the service does not receive without it."},
      {{"settings", "set", "ReceivedDir", "/tmp/faxes"},
       1,
       "",
       "FaxDir holds \"/tmp/faxes\"; it takes a folder whose parent exists, not under /tmp or /var/tmp (the "
       "packaged service has a /tmp and /var/tmp of its own, emptied whenever it stops: PrivateTmp=true in "
       "kestreld.service)."},
      {{"settings", "set", "UseImageScale", ""}, 1, "", "UseImageScale holds \"\"; it takes TRUE or FALSE."},
      {{"settings", "set", "SmtpSecurity", "3"},
       1,
       "",
       "SmtpSecurity holds \"3\"; it takes 0 (None), 1 (STARTTLS) or 2 (SSL/TLS)."},
      {{"settings", "set", "ReceivedDir", app_.Path() + "two/levels"},
       1,
       "",
       "FaxDir holds \"" + app_.Path() + "two/levels\"; the folder cannot be made (its parent must exist)."},
      {{"settings", "set", "ImageFormat", "bmp"},
       1,
       "",
       "ImageFormat holds \"bmp\"; it takes 0 (Jpg), 1 (Png), 2 (Tiff), 3 (Sff) or 4 (Pdf)."},
      {{"settings", "set", "RejectStationID", "1"}, 1, "", "RejectStationID is not kept in kestrel.xml."},
      {{"settings", "set", "ReceiverPassword", "s3cret"},
       1,
       "",
       "ReceiverPassword is a secret: give it as - and type it on standard input."},
      // A refusal anywhere keeps every value of the call out.
      {{"settings", "set", "SMTPServer", "mail.test", "SMTPPort", "x"}, 1, "", std::nullopt},
  });
  AdminRun languages = RunAdmin({"settings", "set", "OcrLanguages", "xyz"});
  EXPECT_EQ(languages.err.rfind("kestrel-admin: OcrLanguages holds \"xyz\"; it takes installed Tesseract languages", 0),
            0)
      << languages.err;
  EXPECT_NE(languages.err.find("(xyz not installed; installed: "), std::string::npos) << languages.err;
  struct stat st;
  EXPECT_NE(::stat(SettingsFilePath(app_.Path()).c_str(), &st), 0) << "nothing written";
}

TEST_F(AdminTest, EveryElementAndItsOldNameIsTakenAndShown) {
  std::vector<std::string> languages = InstalledOcrLanguages();
  languages.push_back("");  // none installed: only nothing is taken
  WriteFileBytes(home_.File("admin.in"), "");
  for (bool byElement : {true, false}) {
    std::vector<std::string> args = {"settings", "set"};
    std::string expected;
    std::string typed;  // one line on standard input for each secret
    for (const SettingRow& row : SettingRows()) {
      if (!row.InFile()) continue;
      std::string value = row.type == SettingType::kText   ? std::string(row.member) + (byElement ? "1" : "2")
                          : row.type == SettingType::kFlag ? (byElement ? "TRUE" : "FALSE")
                                                           : std::to_string(byElement ? 1 : 2);
      if (row.member == "ReceivedDir") value = app_.Path() + value;
      if (row.type == SettingType::kText) {
        // A text of its own kind: a URL, a word of its list, an address, a file, an installed language,
        // a port range.
        for (std::string text : {value, "https://" + value + ".example/", std::string(byElement ? "device" : "code"),
                                 value + "@kestrel.test", home_.File("admin.in"), languages.front(),
                                 std::string(byElement ? "30000-30099" : "30100-30199")}) {
          if ((!row.check || row.check(row.Name(), text)) && AdmitSetting(row, text, {.folder = app_.Path()})) {
            value = text;
            break;
          }
        }
      }
      if (row.secret) value = "-", typed += "typed secret\n";
      args.push_back(std::string(byElement ? row.element : row.member));
      args.push_back(value);
      std::string shown = row.type == SettingType::kText ? "\"" + value + "\"" : value;
      if (row.type == SettingType::kFlag) shown = byElement ? "true" : "false";
      if (row.secret) shown = "\"(set)\"";
      if (row.element == "EmailAll" && !byElement) shown = "\" \"";  // kept only while MSNAll is on
      expected += "\"" + std::string(row.element) + "\":" + shown + ",";
    }
    AdminRun r = RunAdmin(args, typed);
    ASSERT_EQ(r.status, 0) << r.err;
    expected.pop_back();
    EXPECT_EQ(RunAdmin({"--json", "settings"}).out, "{" + expected + "}\n");
  }
}

TEST_F(AdminTest, AnUnusableSettingsFileIsNamedAndLeftByteForByte) {
  const std::string bad =
      "<Kestrel><Version>1.3.3.3</Version><Settings><SmtpSecurity>3</SmtpSecurity></Settings></Kestrel>";
  WriteFileBytes(SettingsFilePath(app_.Path()), bad);
  AdminRun r = RunAdmin({"settings", "set", "EmailHeader", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SmtpSecurity holds \"3\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The element FaxDir is missing."), std::string::npos) << r.err;
  EXPECT_EQ(RunAdmin({"settings"}).status, 1);
  EXPECT_EQ(ReadFileBytes(SettingsFilePath(app_.Path())), bad);
}

TEST_F(AdminTest, SecretTypedOnATerminalIsAskedForAndNotEchoed) {
  const std::string home = app_.Path();
  int terminal = -1;
  pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(KESTREL_ADMIN, KESTREL_ADMIN, "--home", home.c_str(), "settings", "set", "SMTP_Pass", "-", nullptr);
    ::_exit(127);
  }
  // What the terminal shows, read until `text` appears or the program is gone.
  std::string shown;
  auto showsOrEnds = [&](const std::string& text) {
    for (;;) {
      if (!text.empty() && shown.find(text) != std::string::npos) return true;
      pollfd p{terminal, POLLIN, 0};
      if (::poll(&p, 1, 60000) != 1) return false;
      char buffer[256];
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n <= 0) return text.empty();
      shown.append(buffer, static_cast<std::size_t>(n));
    }
  };
  ASSERT_TRUE(showsOrEnds("ReceiverPassword: ")) << shown;
  ASSERT_EQ(::write(terminal, "s3cret\n", 7), 7);
  EXPECT_TRUE(showsOrEnds(""));
  ::close(terminal);
  EXPECT_EQ(WaitProcess(pid, 60s), 0) << shown;
  EXPECT_EQ(shown.find("s3cret"), std::string::npos) << shown;
  ServiceSettings saved;
  ASSERT_TRUE(ImportSettings(SettingsFilePath(app_.Path()), saved, log_));
  EXPECT_EQ(saved.SMTP_Pass, "s3cret");
}

TEST_F(AdminTest, SettingsSetTakesKeysInAnyCaseAndMakesTheReceivedFolder) {
  const std::string received = app_.Path() + "received";
  AdminRun r = RunAdmin({"settings", "set", "smtpserver", "mail.test", "SMTPPORT", " 2525 ", "ReceivedDir", received,
                         "AuthenticationMethod", "cram md5", "SMTP_Pass", "-", "ImageFormat", "Tiff"},
                        "s3cret\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, SettingsFilePath(app_.Path()) + " written; no service runs for " + app_.Path() +
                       ", it takes the settings when it starts.\n");
  struct stat st;
  EXPECT_EQ(::stat(received.c_str(), &st), 0);
  ServiceSettings saved;
  ASSERT_TRUE(ImportSettings(SettingsFilePath(app_.Path()), saved, log_));
  EXPECT_EQ(saved.SMTPServer, "mail.test");
  EXPECT_EQ(saved.SMTPPort, 2525);
  EXPECT_EQ(saved.AuthenticationMethod, SmtpAuthentication::CramMd5);
  EXPECT_EQ(saved.SMTP_Pass, "s3cret");
  EXPECT_EQ(saved.ImageFormat, ImageFormat::Tiff);
  EXPECT_EQ(Setting("ReceiverPassword"), "(set)");
  EXPECT_EQ(Setting("SmtpServerReceive"), "mail.test");
  EXPECT_EQ(Setting("ImageFormat"), "2 (Tiff)");
}

TEST_F(AdminTest, SettingsImportTakesARegistryExportOrAnotherSettingsFile) {
  WriteFileBytes(home_.File("old.reg"),
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brightwater\\Brightwater Kestrel\\Email]\r\n"
                 "\"SMTPServer\"=\"smtp.example.org\"\r\n\"Address\"=\"fax@example.org\"\r\n\r\n");
  EXPECT_EQ(RunAdmin({"settings", "import", home_.File("old.reg")}).status, 0);
  EXPECT_EQ(Setting("SmtpServerReceive"), "smtp.example.org");
  EXPECT_EQ(Setting("SmtpPortReceive"), "25") << "the migration default";
  EXPECT_EQ(Setting("Database"), "DSN=Kestrel");

  ServiceSettings other = BaseSettings(2600);
  ASSERT_TRUE(ExportSettings(home_.File("other.xml"), other, log_));
  EXPECT_EQ(RunAdmin({"settings", "import", home_.File("other.xml")}).status, 0);
  EXPECT_EQ(Setting("SmtpPortReceive"), "2600");
  EXPECT_EQ(Setting("SmtpServerReceive"), "127.0.0.1");

  WriteFileBytes(home_.File("junk"), "<Kestrel");
  Steps({{{"settings", "import", home_.File("junk")},
          1,
          "",
          home_.File("junk") + " is neither a registry export with Kestrel's key nor a usable kestrel.xml: " +
              "Error parsing start element tag (line 1, position 8)"}});
}

class AdminForwardingTest : public AdminTest, public ::testing::WithParamInterface<Engine> {};

TEST_P(AdminForwardingTest, TablesChangeWithTheEditorsChecksAndTexts) {
  std::unique_ptr<CTestDatabase> db;
  if (GetParam() == Engine::kPostgreSQL) {
    ASSERT_TRUE(COdbcIniFiles::Instance().ClaimForThisTest());
    db = std::make_unique<CTestDatabase>(Engine::kPostgreSQL);
    db->DefineKestrelDataSource();
  }
  Steps({
      {{"msn", "add", "", "fax@example.org"}, 1, "", "The incoming MSN is not valid"},
      {{"msn", "add", "12a", "fax@example.org"}, 1, "", "The incoming MSN is not valid"},
      {{"msn", "add", "123", "fax@example"}, 1, "", "The email address must be valid."},
      {{"msn", "add", "123", "first.last@example"}, 1, "", "The email address must be valid."},
      {{"msn", "add", "123", "first.last@example.org"}, 0, "Added 123 -> first.last@example.org to tblMSNEmail.\n", ""},
      {{"msn", "add", "0456", "b@example.org"}, 0, std::nullopt, ""},
      {{"msn", "add", "0456", "c@example.org"},
       1,
       "",
       "0456 already has a row in tblMSNEmail; change it with: kestrel-admin msn edit 0456 0456 c@example.org"},
      {{"msn", "edit", "123", "124", "b@c"}, 1, "", "Sie müssen eine korrekte e-Mail Adresse eingeben"},
      {{"msn", "edit", "123", "", "b@c.de"}, 1, "", "Sie müssen eine korrekte MSN eingeben"},
      {{"msn", "edit", "999", "1", "b@c.de"}, 1, "", "tblMSNEmail has no row for MSN 999."},
      {{"msn", "edit", "123", "124", "new@example.org"}, 0, std::nullopt, ""},
      {{"msn", "list"}, 0, "MSN   Email-Weiterleitung\n0456  b@example.org\n124   new@example.org\n", ""},
      {{"--json", "msn", "list"},
       0,
       "[{\"number\":\"0456\",\"address\":\"b@example.org\"},{\"number\":\"124\",\"address\":\"new@example.org\"}]\n",
       ""},
      {{"msn", "delete", "124"}, 0, "Deleted 124 from tblMSNEmail.\n", ""},
      {{"msn", "delete", "124"}, 1, "", "tblMSNEmail has no row for MSN 124."},
      {{"caller", "add", "", "x@example.org"}, 1, "", "Sie müssen eine Senderkennung (TSID) angeben."},
      {{"caller", "add", "0301", ""}, 1, "", "Sie müssen eine Email-Adresse angeben."},
      {{"caller", "add", "0301", "no-at-sign"}, 0, std::nullopt, ""},
      {{"caller", "edit", "0301", "0302", ""}, 0, std::nullopt, ""},
      {{"caller", "list"}, 0, "Senderkennung  Email-Weiterleitung\n0302           \n", ""},
      {{"msn", "all", "on", "office@example"}, 1, "", "You must also insert a valid Email Address"},
      {{"msn", "all", "on", "office@example.org"}, 0, std::nullopt, ""},
  });
  EXPECT_EQ(Setting("MSNAll"), "TRUE");
  EXPECT_EQ(Setting("EmailAll"), "office@example.org");
  EXPECT_EQ(RunAdmin({"msn", "all", "off"}).status, 0);
  EXPECT_EQ(Setting("MSNAll"), "FALSE");
  if (db) {
    EXPECT_EQ(QueryColumn(db->ConnectString(), "SELECT MSN FROM tblMSNEmail"), std::vector<std::string>{"0456"})
        << "the rows went to PostgreSQL";
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, AdminForwardingTest, ::testing::ValuesIn(kEngines),
                         [](const auto& info) { return EngineName(info.param); });

TEST_F(AdminTest, JournalListsNewestFirstAndDeletesOneRow) {
  ASSERT_TRUE(InsertJournalEntry(log_, "0301111", LocalTime("07/12/2026 09:05:03"), 2, "/fax/a.png", {},
                                 "Pages not converted: 2.")
                  .Ok());
  ASSERT_TRUE(InsertJournalEntry(log_, "0302222", LocalTime("08/12/2026 10:11:12"), 1, "/fax/b.png").Ok());
  Steps({
      {{"journal", "list"},
       0,
       "ID\tSender\tReceived\tPages\tFile\tStatus\n"
       "2\t0302222\t08.12.2026 10:11:12\t1\t/fax/b.png\t\n"
       "1\t0301111\t07.12.2026 09:05:03\t2\t/fax/a.png\tPages not converted: 2.\n",
       ""},
      {{"--json", "journal", "list", "--limit", "1"},
       0,
       "[{\"id\":2,\"sender\":\"0302222\",\"time\":\"2026-12-08 10:11:12\",\"pages\":1,"
       "\"file\":\"/fax/b.png\",\"status\":\"\"}]\n",
       ""},
      {{"journal", "delete", "2"}, 0, "Deleted journal entry 2.\n", ""},
      {{"journal", "delete", "2"}, 1, "", "The journal has no entry 2."},
      {{"journal", "list"},
       0,
       "ID\tSender\tReceived\tPages\tFile\tStatus\n1\t0301111\t07.12.2026 09:05:03\t2\t/fax/a.png\tPages not "
       "converted: 2.\n",
       ""},
  });
}

TEST_F(AdminTest, QueueDeletesOnlyFilesItLists) {
  const std::string queue = app_.Path() + "MailQueue/";
  ASSERT_EQ(::mkdir(queue.c_str(), 0700), 0);
  WriteFileBytes(queue + "fax_1.eml", "To: office@kestrel.test\r\nSubject: Fax\r\n from 0301\r\n\r\nbody\r\n");
  WriteFileBytes(app_.Path() + "kestrel.eml", "not in the queue");
  const std::string json = RunAdmin({"--json", "queue", "list"}).out;
  EXPECT_NE(json.find("\"file\":\"fax_1.eml\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"size\":59,\"recipients\":\"office@kestrel.test\",\"subject\":\"Fax from 0301\"}"),
            std::string::npos)
      << json;
  Steps({
      {{"queue", "delete", "../kestrel.eml"}, 1, "", "The mail queue has no file ../kestrel.eml."},
      {{"queue", "retry"}, 1, "", "No service runs for " + app_.Path() + "; it sends the queue when it starts."},
      {{"queue", "delete", "fax_1.eml"}, 0, "Deleted fax_1.eml from the mail queue.\n", ""},
      {{"queue", "list"}, 0, "File\tAge\tSize\tRecipients\tSubject\n", ""},
  });
  EXPECT_EQ(ReadFileBytes(app_.Path() + "kestrel.eml"), "not in the queue");
}

TEST_F(AdminTest, SettingsSetMakesTheRunningServiceUseTheNewValuesForTheNextCall) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  AdminRun r = RunAdmin({"settings", "set", "Header", "Admin set %TSID%"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, SettingsFilePath(app_.Path()) + " written; the service (process " + std::to_string(pid_) +
                       ") re-reads it.\n");
  ASSERT_TRUE(WaitForEvent("The reception uses the new settings from the next call on."));
  Call("fax", "0302222222", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(Parsed(1).headers["Subject"], "Admin set 0302222222");
}

TEST_F(AdminTest, QueueRetryMakesTheServiceSendTheQueueAtOnce) {
  StartSim();
  const int port = FreePort();
  WriteSettings(BaseSettings(port));  // nobody listens yet: the fax is queued
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  AdminRun list = RunAdmin({"queue", "list"});
  EXPECT_NE(list.out.find(QueueFiles()[0] + "\t"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\toffice@kestrel.test\tFax from 0301234567\n"), std::string::npos) << list.out;
  EXPECT_EQ(RunAdmin({"status"}).status, 1) << "a waiting mail is not well";

  StartMailServer(port);
  // The monitor sits in its three-minute pause; only the retry wakes it.
  AdminRun retry = RunAdmin({"queue", "retry"});
  EXPECT_EQ(retry.status, 0) << retry.err;
  EXPECT_EQ(retry.out, "The service (process " + std::to_string(pid_) + ") sends the queue now.\n");
  ASSERT_TRUE(WaitForMessages(1, 60s));
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"office@kestrel.test"});
}

// The first attempt meets a 554 for the message: the mail waits apart, not
// sent again, until queue retry NAME returns it.
TEST_F(AdminTest, MailRefusedForGoodIsListedApartAndRetryNameSendsIt) {
  StartSim();
  const int port = FreePort();
  StartMailServer(port, {"--refuse-data"});
  WriteSettings(BaseSettings(port));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  const std::string folder = app_.Path() + "MailQueue/Undeliverable/";
  ASSERT_TRUE(Eventually([&] { return FilesEndingIn(folder, ".eml").size() == 1; }, 30s));
  const std::string name = FilesEndingIn(folder, ".eml")[0];
  ASSERT_TRUE(WaitForEvent("The mail server refused the mail for good, it is not sent again and kept as " + folder +
                           name + " (554 5.7.1 Message refused)"));
  EXPECT_TRUE(QueueFiles().empty());

  AdminRun list = RunAdmin({"queue", "list"});
  EXPECT_EQ(list.out.substr(0, list.out.find(name)),
            "File\tAge\tSize\tRecipients\tSubject\n\nUndeliverable, refused by the mail server (queue retry NAME "
            "sends one again):\nFile\tAge\tSize\tRecipients\tSubject\n");
  EXPECT_NE(RunAdmin({"--json", "queue", "list"}).out.find("{\"file\":\"" + name + "\",\"undeliverable\":true,"),
            std::string::npos);
  AdminRun status = RunAdmin({"status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_NE(status.out.find("\nqueued mails: 0\nundeliverable mails: 1\n"), std::string::npos) << status.out;

  mail_.reset();
  StartMailServer(port);
  Steps({{{"queue", "retry", "../" + name}, 1, "", "No undeliverable mail is called ../" + name + "."},
         {{"queue", "retry", name},
          0,
          "Returned " + name + " to the mail queue.\nThe service (process " + std::to_string(pid_) +
              ") sends the queue now.\n",
          ""}});
  ASSERT_TRUE(WaitForMessages(1, 60s));
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"office@kestrel.test"});
  EXPECT_TRUE(FilesEndingIn(folder, ".eml").empty());
}

// A display name with a comma in the caller table is one recipient.
TEST_F(AdminTest, QuotedNameWithACommaInTheCallerTableReachesItsAddress) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Steps({{{"caller", "add", "0301234567", "\"Doe, John\" <john@kestrel.test>"}, 0, std::nullopt, ""}});
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1), (std::vector<std::string>{"office@kestrel.test", "john@kestrel.test"}));
  EXPECT_NE(mail_->Content(1).find("\"Doe, John\" <john@kestrel.test>"), std::string::npos) << mail_->Content(1);
}

// Services sharing one journal: the status names each node's newest fax once
// there are two, besides the journal's newest.
TEST_F(AdminTest, StatusNamesEachNodesLastFaxOnceTheJournalHoldsTwo) {
  ASSERT_TRUE(InsertJournalEntry(log_, "0301", LocalTime("07/12/2026 09:05:03"), 1, "/a/1.png", {}, "", "fax-a").Ok());
  EXPECT_EQ(RunAdmin({"status"}).out.find("last fax on "), std::string::npos) << "one node: no line of its own";
  ASSERT_TRUE(InsertJournalEntry(log_, "0302", LocalTime("08/12/2026 10:11:12"), 1, "/b/1.png", {}, "", "fax-b").Ok());
  const AdminRun text = RunAdmin({"status"});
  EXPECT_NE(text.out.find("\nlast fax: 2026-12-08 10:11:12\nlast fax on fax-a: 2026-12-07 09:05:03\n"
                          "last fax on fax-b: 2026-12-08 10:11:12\n"),
            std::string::npos)
      << text.out;
  const AdminRun json = RunAdmin({"--json", "status"});
  EXPECT_NE(json.out.find("\"lastFax\":\"2026-12-08 10:11:12\",\"lastFaxByNode\":{\"fax-a\":\"2026-12-07 09:05:03\","
                          "\"fax-b\":\"2026-12-08 10:11:12\"}"),
            std::string::npos)
      << json.out;
}

TEST_F(AdminTest, StatusIsWellWithTheLineAndNotWellWithoutIt) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  ASSERT_TRUE(InsertJournalEntry(log_, "0301111", LocalTime("07/12/2026 09:05:03"), 2, "/fax/a.png").Ok());
  // The service publishes the line's state within a second of its change.
  AdminRun well;
  ASSERT_TRUE(Eventually([&] { return (well = RunAdmin({"status"})).status == 0; })) << well.out << well.err;
  EXPECT_EQ(well.out.substr(0, well.out.find('\n')), "service: running (process " + std::to_string(pid_) + ")");
  EXPECT_NE(well.out.find("\ndatabase: opens\nrecorded, not forwarded: 0\nqueued mails: 0\n"
                          "set aside, unreadable: 0\nlast fax: 2026-12-07 09:05:03\nstatus: well\n"),
            std::string::npos)
      << well.out;
  EXPECT_EQ(well.out.find("capi: not answering"), std::string::npos) << well.out;

  // An entry set aside is a fax that needs a person: not well until it is seen to.
  ::mkdir(app_.File("FaxInbox").c_str(), 0700);
  WriteFileBytes(app_.File("FaxInbox/00000000001000000000-0000.fax.bad"), "torn");
  AdminRun setAside = RunAdmin({"status"});
  EXPECT_EQ(setAside.status, 1) << setAside.out;
  EXPECT_NE(setAside.out.find("\nset aside, unreadable: 1\n"), std::string::npos) << setAside.out;
  EXPECT_NE(setAside.out.find("\nstatus: not well\n"), std::string::npos) << setAside.out;
  ::unlink(app_.File("FaxInbox/00000000001000000000-0000.fax.bad").c_str());

  // The line gone, the service's own view tells it, with the code in words as libcapi20 names it.
  sim_.reset();
  AdminRun goneText;
  ASSERT_TRUE(Eventually([&] {
    goneText = RunAdmin({"status"});
    return goneText.out.find("\ncapi: not answering (0x") != std::string::npos;
  })) << goneText.out;
  EXPECT_EQ(goneText.status, 1);
  EXPECT_TRUE(
      std::regex_search(goneText.out, std::regex("\ncapi: not answering \\(0x[0-9A-F]{4}: [A-Za-z][^)\n]+\\)\n")))
      << goneText.out;
  EXPECT_NE(goneText.out.find("\nnot well: the service does not receive faxes: CAPI does not answer\n"),
            std::string::npos)
      << goneText.out;
  AdminRun gone = RunAdmin({"--json", "status"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.out.find("\"capi\":{\"source\":\"service\",\"answers\":false,"), std::string::npos) << gone.out;
  EXPECT_NE(gone.out.find("\"well\":false}"), std::string::npos) << gone.out;
}

// A settings file made incomplete behind the service's back and re-read: the
// service stops listening, and status names the setting that is missing.
TEST_F(AdminTest, StatusNamesTheMissingSettingWhenTheServiceStopsListening) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  WriteSettings(settings);
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  AdminRun well;
  ASSERT_TRUE(Eventually([&] { return (well = RunAdmin({"status"})).status == 0; })) << well.out;
  EXPECT_NE(well.out.find("\nreception: listening\ncapi: 1 controller(s), "), std::string::npos) << well.out;

  settings.SMTPServer.clear();
  WriteSettings(settings);
  ::kill(pid_, SIGHUP);
  ASSERT_TRUE(WaitForEvent("Configuration imcomplete. The program cannot be startet."));
  AdminRun stopped;
  ASSERT_TRUE(Eventually([&] { return (stopped = RunAdmin({"status"})).status == 1; })) << stopped.out;
  EXPECT_NE(stopped.out.find("\nreception: not listening: the settings are incomplete (missing: SmtpServerReceive)\n"),
            std::string::npos)
      << stopped.out;
  EXPECT_NE(RunAdmin({"--json", "status"}).out.find("\"missingSettings\":[\"SmtpServerReceive\"]"), std::string::npos);
}

// SIGKILL leaves the status file behind; status sees that its process is gone.
TEST_F(AdminTest, StatusOfAKilledServiceSaysItIsGone) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  // The publisher's first look comes after the line is up: the file is there before the kill.
  ASSERT_TRUE(Eventually([&] { return FileExists(app_.File("kestrel-status.json")); }));
  const pid_t killed = pid_;
  Kill();
  ASSERT_TRUE(FileExists(app_.File("kestrel-status.json")));
  AdminRun gone = RunAdmin({"status"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.out.substr(0, gone.out.find('\n')), "service: not running");
  EXPECT_NE(
      gone.out.find("\nnot well: the service (process " + std::to_string(killed) + ") has gone without stopping\n"),
      std::string::npos)
      << gone.out;
}

TEST_F(AdminTest, TestMailIsAcceptedByTheServer) {
  Steps({{{"test-mail", "admin@kestrel.test"}, 1, "", std::nullopt}});  // no server configured yet
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  AdminRun r = RunAdmin({"test-mail", "admin@kestrel.test"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 3), "250") << r.out;
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"admin@kestrel.test"});
}

// The read commands by a member of the folder's group and by a plain user,
// while the service runs (the folder 0750, kestrel.xml the owner's alone).
TEST_F(Admin, ReadCommandsServeTheFoldersGroupAndDenyOthersByName) {
  constexpr gid_t kAdmins = 64123;  // a group of its own for the folder; needs no name
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and the user nobody";
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.SMTP_Pass = "s3cret";
  WriteSettings(settings);
  ASSERT_EQ(::chown(app_.Path().c_str(), 0, kAdmins), 0);
  ASSERT_EQ(::chmod(app_.Path().c_str(), 0750), 0);
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));

  // kestrel-admin as nobody, with `groups` as its only groups.
  auto runAs = [&](std::vector<gid_t> groups, std::vector<std::string> args) {
    args.insert(args.begin(), {KESTREL_ADMIN, "--home", app_.Path()});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = Environment();
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = ::open(home_.File("as.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(home_.File("as.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0 ||
          ::setgroups(groups.size(), groups.data()) != 0 || ::setgid(nobody->pw_gid) != 0 ||
          ::setuid(nobody->pw_uid) != 0)
        ::_exit(99);
      ::execve(KESTREL_ADMIN, argv.data(), envp.data());
      ::_exit(98);
    }
    ::close(out);
    ::close(err);
    const int status = WaitProcess(pid, 60s);
    return AdminRun{status, ReadFileBytes(home_.File("as.out")), ReadFileBytes(home_.File("as.err"))};
  };

  struct Case {
    std::vector<std::string> args;
    std::string memberSees;  // a line of a member's output
  };
  const Case cases[] = {
      {{"settings"}, "ReceiverPassword            (set)\n"},
      {{"settings"}, "EmailAddress                fax@kestrel.test\n"},
      {{"queue", "list"}, "File\tAge\tSize\tRecipients\tSubject\n"},
      {{"journal", "list"}, "ID\tSender\tReceived\tPages\tFile\tStatus\n"},
  };
  for (const Case& c : cases) {
    const AdminRun member = runAs({kAdmins}, c.args);
    EXPECT_EQ(member.status, 0) << c.args[0] << ": " << member.err;
    EXPECT_NE(member.out.find(c.memberSees), std::string::npos) << member.out;
    const AdminRun plain = runAs({}, c.args);
    EXPECT_EQ(plain.status, 1) << c.args[0] << ": " << plain.out;
    EXPECT_EQ(plain.out, "") << c.args[0];
    EXPECT_NE(plain.err.find("kestrel-admin: permission denied: " + app_.Path()), std::string::npos) << plain.err;
    EXPECT_NE(plain.err.find("join the group 64123"), std::string::npos) << plain.err;
  }
  const AdminRun status = runAs({}, {"status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.err.rfind("kestrel-admin: permission denied: " + app_.Path(), 0), 0u) << status.err;
  // kestrel.xml stays the owner's; a change is denied by name, not half done.
  const AdminRun change = runAs({kAdmins}, {"settings", "set", "EmailName", "Other"});
  EXPECT_EQ(change.status, 1);
  EXPECT_EQ(change.err.rfind("kestrel-admin: permission denied: " + SettingsFilePath(app_.Path()), 0), 0u)
      << change.err;
}

}  // namespace
}  // namespace kestrel::test
