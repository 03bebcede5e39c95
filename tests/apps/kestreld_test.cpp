// kestreld as a process: its options, its exit codes, and its signals
// (SIGHUP replaces the worker, SIGTERM ends it cleanly and keeps the queue).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>

#include "tests/apps/kestreld_process.h"
#include "tests/support/local_time.h"

namespace kestrel::test {
namespace {

TEST_F(Kestreld, VersionAndIncompleteConfiguration) {
  auto [status, out] = Run({"--version"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Kestrel 1.3.3.3\n");

  auto [incomplete, ignored] = Run({});
  EXPECT_EQ(incomplete, 2);
  EXPECT_NE(ReadFileBytes(home_.File("stderr")).find("Configuration imcomplete. The program cannot be startet."),
            std::string::npos);
}

TEST_F(Kestreld, JournalListsRowsNewestFirst) {
  CEventLog log(app_.Path());
  ASSERT_TRUE(InsertJournalEntry(log, "0301111", LocalTime("07/12/2026 09:05:03"), 2, "/fax/a.png", {},
                                 "Incomplete: the service ended during the call, pages after 1 may be missing.")
                  .Ok());
  ASSERT_TRUE(InsertJournalEntry(log, "0302222", LocalTime("08/12/2026 10:11:12"), 1, "/fax/b.png").Ok());
  auto [status, out] = Run({"--journal"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "2\t0302222\t08.12.2026 10:11:12\t1\t/fax/b.png\t\n"
            "1\t0301111\t07.12.2026 09:05:03\t2\t/fax/a.png\tIncomplete: the service ended during the call, "
            "pages after 1 may be missing.\n");
}

TEST_F(Kestreld, TestMailIsAcceptedByTheServer) {
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  auto [status, out] = Run({"--test-mail", "admin@kestrel.test"});
  EXPECT_EQ(status, 0) << ReadFileBytes(home_.File("stderr"));
  EXPECT_EQ(out.substr(0, 3), "250") << out;
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"admin@kestrel.test"});
}

TEST_F(Kestreld, TestMailThatFailsPrintsTheReasonOnStandardError) {
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.SMTPSecurity = SmtpSecurity::StartTls;
  settings.SMTPCAFile = home_.File("missing-ca.pem");
  WriteSettings(settings);
  auto [status, out] = Run({"--test-mail", "admin@kestrel.test"});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadFileBytes(home_.File("stderr")), "kestreld: Connect, Could not read the CA certificate file " +
                                                     home_.File("missing-ca.pem") + ": No such file or directory\n");
}

TEST_F(Kestreld, SighupDuringACallReplacesTheWorkerWhichTakesTheNextCall) {
  StartSim();
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  // A call whose sender never hangs up: it is still connected when SIGHUP comes.
  Call("first", "0301111111", MakeFax(1), 1, "1234567", "hangup=never");
  ASSERT_TRUE(sim_->WaitFor("RECV CONNECT_B3_ACTIVE_RESP"));
  ::kill(pid_, SIGHUP);
  ASSERT_TRUE(WaitForEvent("End Session"));
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ", 2)) << "the new worker listens";
  Call("second", "0302222222", MakeFax(1, "second.sff"), 1);
  ASSERT_TRUE(WaitForMessages(1));
  ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers["Subject"], "Fax from 0302222222");
  auto events = Events();
  int end = -1, init = -1;
  for (int i = 0; i < static_cast<int>(events.size()); ++i) {
    if (events[i] == "End_Session" && end < 0) end = i;
    if (events[i] == "Init_Session") init = i;
  }
  EXPECT_LT(end, init) << "the old worker ends before the new one starts";
  EXPECT_EQ(StoredMessages(), 1) << "the interrupted fax is not forwarded";
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(), 0);
}

// kestrel.xml as BaseSettings writes it, with SmtpSecurity 3.
std::string UnknownSecurityFile(const std::string& path) {
  std::string text = ReadFileBytes(path);
  const std::string good = "<SmtpSecurity>0</SmtpSecurity>";
  const auto at = text.find(good);
  if (at != std::string::npos) text.replace(at, good.size(), "<SmtpSecurity>3</SmtpSecurity>");
  return text;
}

TEST_F(Kestreld, AnUnusableSettingsFileStopsTheStartAndASighupKeepsTheRunningSettings) {
  const std::string path = SettingsFilePath(app_.Path());
  const std::string why = path + ": SmtpSecurity holds \"3\"; it takes 0 (None), 1 (STARTTLS) or 2 (SSL/TLS).";
  StartMailServer();
  WriteSettings(BaseSettings(MailPort()));
  const std::string good = ReadFileBytes(path), bad = UnknownSecurityFile(path);
  ASSERT_NE(good, bad);

  WriteFileBytes(path, bad);
  auto [status, out] = Run({});
  EXPECT_EQ(status, 2) << "as for incomplete settings: a restart cannot help";
  EXPECT_NE(ReadFileBytes(home_.File("stderr")).find(why), std::string::npos) << ReadFileBytes(home_.File("stderr"));
  EXPECT_TRUE(WaitForEvent("The settings cannot be used, so the service does not start. " + why));

  WriteFileBytes(path, good);
  StartSim();
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  WriteFileBytes(path, bad);
  ::kill(pid_, SIGHUP);
  ASSERT_TRUE(WaitForEvent("The settings file was not re-read; the running settings stay. " + why));
  Call("fax", "0302222222", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1)) << "the running settings still deliver";
  const auto events = Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "End_Session"), 0) << "the worker was not replaced";
  EXPECT_EQ(ReadFileBytes(path), bad) << "a reload never writes the file";
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(), 0);
}

TEST_F(Kestreld, SigtermWithQueuedMailEndsCleanlyAndKeepsTheFile) {
  StartSim();
  WriteSettings(BaseSettings(FreePort()));  // nobody listens: the mail is queued
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  auto start = Clock::now();
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(5s), 0);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_EQ(QueueFiles().size(), 1u);
  EXPECT_EQ(Events().back(), "End_Session");
}

}  // namespace
}  // namespace kestrel::test
