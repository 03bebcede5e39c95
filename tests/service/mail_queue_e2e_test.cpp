// Faults on the way to the mailbox: the queue takes over and the monitor
// delivers each queued mail exactly once, or keeps it while it is refused; a
// queue that cannot be written keeps the fax recorded for the next attempt.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "tests/service/service_fixture.h"

namespace kestrel::test {
namespace {

int CountEventsContaining(const std::vector<std::string>& events, const std::string& text) {
  const std::string logged = LoggedForm(text);
  return static_cast<int>(std::count_if(events.begin(), events.end(),
                                        [&](const std::string& e) { return e.find(logged) != std::string::npos; }));
}

TEST_F(ServiceTest, ServerDownQueuesTheMailAndTheMonitorDeliversItOnceWhenBack) {
  StartSim();
  const int port = FreePort();
  StartService(BaseSettings(port));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 1; })) << "journalled although queued";
  ASSERT_TRUE(Eventually([&] { return forwarded_.Faxes().size() == 1; }));
  EXPECT_TRUE(forwarded_.Faxes()[0].queued);
  EXPECT_FALSE(forwarded_.Faxes()[0].mailed);
  const std::string queued = app_.Path() + "MailQueue/" + QueueFiles()[0];
  EXPECT_EQ(QueueFiles()[0].rfind("0301234567_", 0), 0u) << QueueFiles()[0];
  auto events = Events();
  EXPECT_GE(CountEventsContaining(events, "Failed to connect to SMTP server: 127.0.0.1 error :"), 1);
  EXPECT_GE(CountEventsContaining(events, "Failed to send the SMTP message, saving as :" + queued), 1);
  EXPECT_GE(CountEventsContaining(events, "MailQueue dir not exist."), 1);

  StartMailServer(port);
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(Eventually([&] { return QueueFiles().empty(); }));
  std::this_thread::sleep_for(1500ms);  // several monitor passes
  EXPECT_EQ(StoredMessages(), 1) << "delivered exactly once";
  ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers["Subject"], "Fax from 0301234567");
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"office@kestrel.test"});
  EXPECT_EQ(mail.partBytes.size(), 2u) << mail.summary;
}

TEST_F(ServiceTest, QueueThatCannotBeWrittenKeepsTheFaxForTheNextAttempt) {
  StartSim();
  // A file where the queue folder belongs: nothing can be saved into it.
  WriteFileBytes(app_.Path() + "MailQueue", "not a folder");
  StartService(BaseSettings(FreePort()));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForEvent("Failed to save the SMTP message into " + app_.Path() +
                           "MailQueue, the fax stays for the next attempt"));
  EXPECT_EQ(CountEventsContaining(Events(), "Failed to send the SMTP message, saving as :"), 0)
      << "nothing claims to be saved";
  EXPECT_EQ(InboxEntries().size(), 1u);
  EXPECT_TRUE(Journal().empty()) << "journaled once the fax is mailed or queued";
  StopService();

  ::unlink((app_.Path() + "MailQueue").c_str());
  StartService(BaseSettings(FreePort()));
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1 && InboxEntries().empty(); }, 30s));
  EXPECT_EQ(Journal().size(), 1u);
}

TEST_F(ServiceTest, RecipientsRefusedForNowKeepTheQueueFileAndItIsRetried) {
  StartSim();
  StartMailServer(0, {"--refuse-rcpt", "450"});
  StartService(BaseSettings(MailPort()));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  const std::string refused = " SendRCPTForRecipient, An unexpected RCPT response was received";
  // The fax itself, then at least two resends by the monitor.
  ASSERT_TRUE(Eventually([&] { return CountEventsContaining(Events(), refused) >= 3; }, 20s))
      << ::testing::PrintToString(Events());
  EXPECT_EQ(QueueFiles().size(), 1u);
  EXPECT_EQ(StoredMessages(), 0);
}

TEST_F(ServiceTest, ConnectionDroppedDuringDataIsQueuedThenDeliveredOnce) {
  StartSim();
  StartMailServer(0, {"--drop-first-data"});
  StartService(BaseSettings(MailPort()));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(Eventually([&] { return QueueFiles().empty(); }));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(StoredMessages(), 1);
  EXPECT_GE(CountEventsContaining(Events(), "Failed to send the SMTP message, saving as :"), 1)
      << "the first attempt was queued";
}

TEST_F(ServiceTest, DatabaseGoneStillMailsAndLogsTheJournalError) {
  StartSim();
  StartMailServer();
  StartService(BaseSettings(MailPort()));
  // The embedded database becomes unreadable under the running service.
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((app_.Path() + "kestrel.db" + suffix).c_str());
  WriteFileBytes(app_.Path() + "kestrel.db", std::string(4096, 'x'));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  ASSERT_TRUE(Eventually([&] {
    auto events = Events();
    return std::any_of(events.begin(), events.end(), [](const std::string& e) {
      return e.rfind("_Error:", 0) == 0 && e.find("_Msg:") != std::string::npos &&
             e.find("_Description:") != std::string::npos;
    });
  })) << "the journal insert writes its error text";
  EXPECT_TRUE(QueueFiles().empty());
}

}  // namespace
}  // namespace kestrel::test
