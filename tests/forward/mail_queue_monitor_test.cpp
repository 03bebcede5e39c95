// The mail-queue monitor on its own, against aiosmtpd: one file per pause in
// name order, MAIL FROM from the current settings, a prompt cooperative stop,
// and files still being written left alone; against Postfix: recipients it
// refuses cost only themselves, and a mail it refuses for good is set aside.
#include "forward/mail_queue_monitor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/event_log.h"
#include "mail/smtp_message.h"
#include "tests/capi/line_sim.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

class MailQueueMonitor : public ::testing::Test {
 protected:
  MailQueueMonitor() { ::mkdir((app_.Path() + "MailQueue").c_str(), 0700); }

  std::string Queue(const std::string& name, const std::string& to, const std::string& subject) {
    CSMTPMessage message(log_);
    message.SetSender(CMailAddress("Old Sender", "old@kestrel.test"));
    message.AddRecipients(to);
    message.SetSubject(subject);
    message.AddTextBody("queued\n");
    std::string path = app_.Path() + "MailQueue/" + name;
    EXPECT_TRUE(message.SaveToDisk(path));
    return path;
  }

  ServiceSettings Settings(int port) {
    ServiceSettings s;
    s.Name = "New Sender";
    s.Address = "new@kestrel.test";
    s.SMTPServer = "127.0.0.1";
    s.SMTPPort = port;
    return s;
  }

  int Stored() const {
    int n = 0;
    while (FileExists(out_.Path() + std::to_string(n + 1) + ".content")) ++n;
    return n;
  }

  // The events, a sent mail's line cut after its reply code: the server's
  // queue id in the rest differs from run to run.
  std::vector<std::string> Events() const {
    std::vector<std::string> events = EventDescriptions(app_.Path());
    for (std::string& e : events) {
      const size_t code = e.find("_(250");
      if (e.starts_with("Queued_mail_sent:_") && code != std::string::npos) e.erase(code + 5);
    }
    return events;
  }
  static std::string Sent(const std::string& path) { return LoggedForm("Queued mail sent: " + path + " (250"); }

  CTempDir app_, out_;
  CEventLog log_{app_.Path()};
};

TEST_F(MailQueueMonitor, DrainsTheQueueInNameOrderWithoutPausingBetweenAcceptedFiles) {
  CSmtpServerPeer server(out_.Path(), "none");
  std::string a = Queue("a.eml", "one@kestrel.test", "first");
  std::string b = Queue("b.eml", "two@kestrel.test", "second");
  std::string c = Queue("c.eml", "three@kestrel.test", "third");
  CMailQueueMonitor monitor(log_);
  monitor.SetSettings(Settings(server.Port()), app_.Path());
  // A pause the test would never outlast: all three can only arrive if the
  // monitor goes on at once after each accepted file.
  monitor.SetPause(std::chrono::hours(1));
  monitor.StartMailQueueMonitor(true);

  ASSERT_TRUE(Eventually([&] { return Stored() >= 3; }, 30s));
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(Stored(), 3);
  EXPECT_EQ(server.Recipients(1), std::vector<std::string>{"one@kestrel.test"});
  EXPECT_EQ(server.Recipients(2), std::vector<std::string>{"two@kestrel.test"});
  EXPECT_EQ(server.Recipients(3), std::vector<std::string>{"three@kestrel.test"});
  EXPECT_EQ(server.From(1), "new@kestrel.test") << "MAIL FROM from the settings, not the file";
  EXPECT_NE(server.Content(1).find("Old Sender"), std::string::npos) << "the file is sent unchanged";
  EXPECT_FALSE(FileExists(a) || FileExists(b) || FileExists(c));
  EXPECT_EQ(Events(), (std::vector<std::string>{Sent(a), Sent(b), Sent(c)}));
}

TEST_F(MailQueueMonitor, StopDuringTheLongPauseEndsTheThreadPromptly) {
  CSmtpServerPeer server(out_.Path(), "none");
  Queue("a.eml", "one@kestrel.test", "first");
  CMailQueueMonitor monitor(log_);  // the three-minute pause
  monitor.SetSettings(Settings(server.Port()), app_.Path());
  monitor.StartMailQueueMonitor(true);
  ASSERT_TRUE(Eventually([&] { return Stored() == 1; }, 10s));
  // Queued while the monitor pauses after its pass.
  Queue("b.eml", "two@kestrel.test", "second");
  auto start = Clock::now();
  monitor.StartMailQueueMonitor(false);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(monitor.IsRunning());
  EXPECT_EQ(Stored(), 1) << "the second file waits for the next start";
  monitor.SetPause(std::chrono::milliseconds(100));
  monitor.StartMailQueueMonitor(true);
  ASSERT_TRUE(Eventually([&] { return Stored() == 2; }, 10s)) << "a new start sends at once";
}

TEST_F(MailQueueMonitor, UnreachableServerKeepsFilesAndPartialFilesAreIgnored) {
  Queue("a.eml", "one@kestrel.test", "first");
  WriteFileBytes(app_.Path() + "MailQueue/b.eml.tmp", "To: x@kestrel.test\r\n\r\nhalf a mess");
  CMailQueueMonitor monitor(log_);
  monitor.SetSettings(Settings(1), app_.Path());  // nothing listens on port 1
  monitor.SetPause(std::chrono::milliseconds(50));
  monitor.StartMailQueueMonitor(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  monitor.StartMailQueueMonitor(false);
  EXPECT_TRUE(FileExists(app_.Path() + "MailQueue/a.eml"));
  auto events = EventDescriptions(app_.Path());
  int connects = 0;
  for (const auto& e : events) connects += e.rfind("_Connect,", 0) == 0;
  EXPECT_GE(connects, 2) << "one attempt per pass";

  CSmtpServerPeer server(out_.Path(), "none");
  monitor.SetSettings(Settings(server.Port()), app_.Path());
  monitor.StartMailQueueMonitor(true);
  ASSERT_TRUE(Eventually([&] { return Stored() == 1; }, 10s));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(Stored(), 1) << "the .tmp file is not a queue file";
  EXPECT_TRUE(FileExists(app_.Path() + "MailQueue/b.eml.tmp"));
}

TEST_F(MailQueueMonitor, StopWhileConnectingToAServerThatNeverAnswersIsPrompt) {
  // A listener whose accept queue is full drops further SYNs: connect hangs.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  socklen_t len = sizeof(addr);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Queue("a.eml", "one@kestrel.test", "first");
  CMailQueueMonitor monitor(log_);
  monitor.SetSettings(Settings(ntohs(addr.sin_port)), app_.Path());
  monitor.StartMailQueueMonitor(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  for (const auto& e : EventDescriptions(app_.Path()))
    ASSERT_EQ(e.find("Connect"), std::string::npos) << "still connecting when the stop comes: " << e;
  auto start = Clock::now();
  monitor.StartMailQueueMonitor(false);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(FileExists(app_.Path() + "MailQueue/a.eml"));
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST_F(MailQueueMonitor, AcceptedFileThatCannotBeDeletedIsSentOnlyOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the monitor as an unprivileged user";
  CSmtpServerPeer server(out_.Path(), "none");
  const std::string path = Queue("a.eml", "one@kestrel.test", "first");
  // The monitor's user may read the queue folder but not delete from it.
  ::chmod(app_.Path().c_str(), 0777);
  ::chmod((app_.Path() + "MailQueue").c_str(), 0755);
  ::chmod(path.c_str(), 0644);
  ::unlink((app_.Path() + "kestrel.log").c_str());
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    CEventLog log(app_.Path());
    CMailQueueMonitor monitor(log);
    monitor.SetSettings(Settings(server.Port()), app_.Path());
    monitor.SetPause(std::chrono::milliseconds(100));
    monitor.StartMailQueueMonitor(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    monitor.StartMailQueueMonitor(false);
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Stored(), 1) << "not sent again every pass";
  EXPECT_TRUE(FileExists(path));
  int noted = 0;
  for (const auto& e : EventDescriptions(app_.Path()))
    noted += e.rfind(LoggedForm("Sent queued mail could not be deleted"), 0) == 0;
  EXPECT_EQ(noted, 1);
}

// Postfix takes anna and dora, refuses bea for good and carl for now.
TEST_F(MailQueueMonitor, RefusedRecipientsCostOnlyThemselvesAndTheFileKeepsThoseRefusedForNow) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir mtaDir;
  CPostfixPeer mta(mtaDir.Path(), "fax-user", "Fax pass 1");
  const std::string path = Queue(
      "a.eml", "anna@kestrel.test, \"Bea, gone\" <bea@kestrel.test>; carl@kestrel.test, dora@kestrel.test", "four");
  CMailQueueMonitor monitor(log_);
  monitor.SetSettings(Settings(mta.Port("plain")), app_.Path());
  monitor.SetPause(std::chrono::hours(1));  // one pass only
  monitor.StartMailQueueMonitor(true);
  ASSERT_TRUE(Eventually([&] { return CSMTPMessage(log_).GetRecipientsFromFile(path) == "carl@kestrel.test"; }, 30s))
      << CSMTPMessage(log_).GetRecipientsFromFile(path);
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(mta.MaildirFiles(1, "anna").size(), 1u);
  EXPECT_EQ(mta.MaildirFiles(1, "dora").size(), 1u);
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          LoggedForm(" SendRCPTForRecipient, Recipients refused by the server: bea@kestrel.test (550 "
                                     "5.1.1 <bea@kestrel.test>: Recipient address rejected: Bea has left); "
                                     "carl@kestrel.test (450 4.2.1 <carl@kestrel.test>: Recipient address rejected: "
                                     "Carl is busy)"),
                          Sent(path)}));
}

TEST_F(MailQueueMonitor, MailRefusedForGoodIsSetAsideAndNotSentAgain) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir mtaDir;
  CPostfixPeer mta(mtaDir.Path(), "fax-user", "Fax pass 1");
  const std::string refused = Queue("a.eml", "fax@kestrel.test", "Refused for good");
  const std::string first = Queue("b.eml", "fax@kestrel.test", "first");
  CMailQueueMonitor monitor(log_);
  monitor.SetSettings(Settings(mta.Port("plain")), app_.Path());
  monitor.SetPause(std::chrono::hours(1));
  monitor.StartMailQueueMonitor(true);
  ASSERT_EQ(mta.MaildirFiles(1).size(), 1u) << "the next file goes out at once";
  EXPECT_FALSE(FileExists(refused));
  EXPECT_TRUE(FileExists(app_.Path() + "MailQueue/Undeliverable/a.eml"));
  // Another pass sends a new file and leaves the one set aside alone.
  const std::string second = Queue("c.eml", "fax@kestrel.test", "second");
  monitor.TryNow();
  ASSERT_EQ(mta.MaildirFiles(2).size(), 2u);
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          LoggedForm(" SendMessage, An unexpected end of message response was received"),
                          LoggedForm("The mail server refused the mail for good, it is not sent again and kept as " +
                                     app_.Path() + "MailQueue/Undeliverable/a.eml (550 5.7.1 Not this one)"),
                          Sent(first), Sent(second)}));
  const std::string mtaLog = mta.Log();
  size_t rejects = 0;
  for (size_t at = mtaLog.find("Not this one"); at != std::string::npos; at = mtaLog.find("Not this one", at + 1))
    ++rejects;
  EXPECT_EQ(rejects, 1u) << mtaLog;
}

}  // namespace
}  // namespace kestrel::test
