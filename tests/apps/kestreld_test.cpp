// kestreld as a process: its options, its exit codes, and its signals
// (SIGHUP gives the running worker the re-read settings without cutting a
// call, SIGTERM ends it cleanly and keeps the queue).
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
  const std::string missing =
      "Missing settings: Database, EmailAddress, EmailName, SmtpServerReceive, FaxDir (kestrel-admin settings set KEY "
      "VALUE "
      "sets them).";
  EXPECT_NE(ReadFileBytes(home_.File("stderr"))
                .find("kestreld: Configuration imcomplete. The program cannot be startet.\nkestreld: " + missing),
            std::string::npos)
      << ReadFileBytes(home_.File("stderr"));
  // The log writes its blanks as underscores.
  EXPECT_NE(ReadFileBytes(app_.File("kestrel.log"))
                .find("Missing_settings:_Database,_EmailAddress,_EmailName,_SmtpServerReceive,_FaxDir"),
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

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) out += {digits[c >> 4], digits[c & 0xf]};
  return out;
}

TEST_F(Kestreld, SighupDuringACallLetsThatFaxEndWholeAndTheNextCallUsesTheNewSettings) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  WriteSettings(settings);
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  // A sender that hangs up only when told: every block has arrived and the
  // call is still up when SIGHUP comes.
  const std::string first = MakeFax(1);
  Call("first", "0301111111", first, 1, "1234567", "hangup=never");
  const int blocks = static_cast<int>((ReadFileBytes(first).size() + 2047) / 2048);
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP", blocks));
  settings.Number = "4940777";
  WriteSettings(settings);
  ::kill(pid_, SIGHUP);
  ASSERT_TRUE(Eventually([&] { return ReadFileBytes(home_.File("stderr")).find("re-reading") != std::string::npos; }));
  sim_->Command("hangup first reason=0");

  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(Parsed(1).headers["Subject"], "Fax from 0301111111");
  EXPECT_EQ(Parsed(1).partBytes.size(), 2u) << "body and the page";
  const auto captures = FilesEndingIn(ReceivedDir(), ".sff");
  ASSERT_EQ(captures.size(), 1u);
  EXPECT_EQ(ReadFileBytes(ReceivedDir() + captures[0]), ReadFileBytes(first)) << "the call was not cut";

  ASSERT_TRUE(WaitForEvent("The reception uses the new settings from the next call on."));
  Call("second", "0302222222", MakeFax(1, "second.sff"), 1);
  ASSERT_TRUE(WaitForMessages(2));
  const auto answers = sim_->RecordsStartingWith("RECV CONNECT_RESP");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(RecordField(answers[0], "B3configuration"), "[000000000e" + Hex("+49 30 1234567") + "0120]");
  EXPECT_EQ(RecordField(answers[1], "B3configuration"), "[0000000007" + Hex("4940777") + "0120]");
  const auto events = Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), "End_Session"), 0) << "the worker was not replaced";
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
