// The forwarding pipeline over a fax inbox, with the embedded store and
// aiosmtpd: a fax whose pages cannot be written is neither mailed without
// them nor queued nor journaled, stays recorded, and goes out whole, with the
// Message-ID of its first attempt, once its pages can be written. A fax that
// may lack pages, or whose pages the converter partly refuses, says so in its
// mail (read by Python's email package) and its journal row, as does a TIFF
// capture's page received with lines that could not be repaired; a call a crash
// cut off is forwarded by the worker's next start. Against Postfix: the
// recipients it refuses cost only themselves.
#include "forward/forwarding_pipeline.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <tiffio.h>

#include "convert/fax_page.h"
#include "forward/fax_inbox.h"
#include "forward/forwarding_worker.h"
#include "forward/mail_queue.h"
#include "forward/recipient_resolution.h"
#include "mail/smtp_message.h"
#include "store/journal.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/page_render.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {
namespace {

// A pipeline mailing PNG pages through aiosmtpd, journaling into SQLite.
class ForwardingPipeline : public ::testing::Test {
 protected:
  ForwardingPipeline() {
    ::mkdir(app_.File("received").c_str(), 0700);
    settings_.ImageFormat = ImageFormat::Png;
    settings_.Name = "Kestrel Fax";
    settings_.Address = "fax@kestrel.test";
    settings_.SMTPServer = "127.0.0.1";
    settings_.SMTPPort = server_.Port();
  }

  // An SFF file of letter pages in the received folder; a width above what
  // the converter takes makes that page one it refuses.
  std::string Capture(const std::string& name, const std::vector<std::uint32_t>& widths) {
    std::vector<tools::SffMakePage> pages(widths.size());
    for (std::size_t n = 0; n < widths.size(); ++n) pages[n].image = RenderLetterPage(widths[n], 200, 3 + n);
    const std::string path = app_.File("received/" + name);
    WriteFileBytes(path, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
    return path;
  }
  FaxCallRecord Call(const std::string& capture, std::uint16_t pages) {
    FaxCallRecord call;
    call.captureFilePath = capture;
    call.callerNumber = "0301";
    call.pages = pages;
    call.startTime = call.endTime = std::time(nullptr);
    call.recipients = "office@kestrel.test";
    return call;
  }
  ParsedMail Mail(int n) {
    server_.Content(n);
    const std::string work = mailOut_.File("parsed" + std::to_string(n) + "/");
    ::mkdir(work.c_str(), 0700);
    return ParseWithPython(mailOut_.File(std::to_string(n) + ".content"), work);
  }
  std::vector<JournalEntry> Journal() { return ListJournalEntries(db_.ConnectString()).entries; }

  CTempDir app_, mailOut_;
  CTestDatabase db_{Engine::kSQLite};
  CEventLog log_{app_.Path()};
  COdbcConnection lookups_{db_.ConnectString()};
  CRecipientResolver resolver_{1, "office@kestrel.test", lookups_, log_};
  CForwardingPipeline pipeline_{log_, resolver_, db_.ConnectString()};
  CSmtpServerPeer server_{mailOut_.Path(), "none"};
  ServiceSettings settings_;
  CFaxInbox inbox_{app_.Path(), log_};
};

TEST_F(ForwardingPipeline, PagesThatCannotBeWrittenKeepTheFaxUntilTheyCan) {
  std::vector<tools::SffMakePage> pages(1);
  pages[0].image = RenderLetterPage(1728, 1100, 3);
  const std::string sff = app_.File("received/0301_fax.sff");
  WriteFileBytes(sff, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
  // A folder where the page image belongs: the page cannot be written.
  ::mkdir(app_.File("received/0301_fax.png").c_str(), 0700);
  std::optional<FaxEntry> entry = inbox_.Record(Call(sff, 1));
  ASSERT_TRUE(entry.has_value());

  EXPECT_EQ(pipeline_.Forward(*entry, inbox_, settings_, app_.Path()), ForwardingOutcome::TryLater);
  ASSERT_EQ(inbox_.Pending().size(), 1u);
  FaxEntry waiting = inbox_.Pending()[0];
  EXPECT_FALSE(waiting.messageId.empty());
  EXPECT_EQ(waiting.mail, MailStep::Pending);
  EXPECT_FALSE(FileExists(app_.File("MailQueue"))) << "not queued without its pages";
  EXPECT_TRUE(Journal().empty());
  EXPECT_FALSE(FileExists(mailOut_.File("1.content"))) << "not mailed without its pages";

  ::rmdir(app_.File("received/0301_fax.png").c_str());
  EXPECT_EQ(pipeline_.Forward(waiting, inbox_, settings_, app_.Path()), ForwardingOutcome::Done);
  EXPECT_TRUE(inbox_.Pending().empty());
  const std::string mail = server_.Content(1);
  EXPECT_NE(mail.find("Message-ID: " + waiting.messageId + "\r\n"), std::string::npos) << "the first attempt's id";
  EXPECT_NE(mail.find("0301_fax.png"), std::string::npos) << "the page is attached";
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].faxFile, app_.File("received/0301_fax.png"));
}

TEST_F(ForwardingPipeline, RefusedPageCostsOnlyItselfAndTheCaptureIsAttached) {
  const std::string sff = Capture("0301_fax.sff", {1728, kMaxPageWidth + 8, 1728});
  std::optional<FaxEntry> entry = inbox_.Record(Call(sff, 3));
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(pipeline_.Forward(*entry, inbox_, settings_, app_.Path()), ForwardingOutcome::Done);

  const ParsedMail mail = Mail(1);
  ASSERT_EQ(mail.partInfo.size(), 4u) << mail.summary;
  EXPECT_NE(mail.partBytes[0].find("\r\nPages not converted: 2; the received file is attached.\r\n"), std::string::npos)
      << mail.partBytes[0];
  EXPECT_NE(mail.partInfo[1].find("0301_fax_1.png"), std::string::npos) << mail.partInfo[1];
  EXPECT_NE(mail.partInfo[2].find("0301_fax_3.png"), std::string::npos) << mail.partInfo[2];
  EXPECT_NE(mail.partInfo[3].find("0301_fax.sff"), std::string::npos) << mail.partInfo[3];
  EXPECT_EQ(mail.partBytes[3], ReadFileBytes(sff));
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].status, "Pages not converted: 2.");
  EXPECT_TRUE(inbox_.Pending().empty()) << "done once mailed with the rest";
}

TEST_F(ForwardingPipeline, CallCutShortSaysSoInTheMailAndTheJournal) {
  FaxCallRecord call = Call(Capture("0301_cut.sff", {1728, 1728}), 3);
  call.incomplete = "the sender ended the call (reason 0x3302)";
  std::optional<FaxEntry> entry = inbox_.Record(call);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(pipeline_.Forward(*entry, inbox_, settings_, app_.Path()), ForwardingOutcome::Done);

  const std::string line = "Incomplete: the sender ended the call (reason 0x3302), pages after 2 may be missing.";
  const ParsedMail mail = Mail(1);
  ASSERT_EQ(mail.partBytes.size(), 3u) << mail.summary;
  EXPECT_NE(mail.partBytes[0].find("\r\n" + line + "\r\n"), std::string::npos) << mail.partBytes[0];
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].status, line);
}

TEST_F(ForwardingPipeline, PageWithUnrepairedLinesSaysSoInTheMailAndTheJournalACleanFaxSaysNothing) {
  std::vector<FaxTiffPage> sent = {BlockPage(300, 1), BlockPage(300, 2), BlockPage(300, 3)};
  const std::string clean = app_.File("received/0301_clean.tif");
  ASSERT_TRUE(WriteFaxTiff(clean, sent, FaxTiffCoding::kGroup4));
  sent[1].noteLines = true;
  sent[1].cleanFaxData = CLEANFAXDATA_REGENERATED;
  sent[1].badFaxLines = 17;
  sent[1].consecutiveBadFaxLines = 6;
  sent[2].noteLines = true;
  sent[2].cleanFaxData = CLEANFAXDATA_UNCLEAN;
  const std::string damaged = app_.File("received/0301_damaged.tif");
  ASSERT_TRUE(WriteFaxTiff(damaged, sent, FaxTiffCoding::kGroup4));
  for (const std::string& capture : {damaged, clean}) {
    std::optional<FaxEntry> entry = inbox_.Record(Call(capture, 3));
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(pipeline_.Forward(*entry, inbox_, settings_, app_.Path()), ForwardingOutcome::Done);
  }

  const ParsedMail mail = Mail(1);
  ASSERT_EQ(mail.partBytes.size(), 4u) << "every page attached: " << mail.summary;
  EXPECT_NE(mail.partBytes[0].find("\r\n\r\nPage 2 arrived with errors that could not be repaired (17 bad lines).\r\n"
                                   "Page 3 arrived with errors that could not be repaired.\r\n"),
            std::string::npos)
      << mail.partBytes[0];
  EXPECT_EQ(Mail(2).partBytes.at(0).find("arrived with errors"), std::string::npos);
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 2u);
  for (const JournalEntry& row : journal)
    EXPECT_EQ(row.status, row.faxFile == app_.File("received/0301_damaged_1.png")
                              ? "Pages with errors that could not be repaired: 2 (17 bad lines), 3."
                              : "")
        << row.faxFile;
}

// Tells when the worker is done with a fax.
class CDoneListener final : public IForwardedFaxListener {
 public:
  void FaxForwarded(const ForwardedFax& fax) override {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.push_back(fax);
    changed_.notify_all();
  }
  std::vector<ForwardedFax> WaitFor(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done_.size() >= n; });
    return done_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ForwardedFax> done_;
};

TEST_F(ForwardingPipeline, CallsACrashCutOffAreForwardedAsIncompleteOnStartUnlessNoPageCame) {
  // A capture cut within its second page, one that holds the header only,
  // and a whole fax recorded just before the crash could remove its record.
  const std::string cut = Capture("0301_cut.sff", {1728, 1728});
  std::string bytes = ReadFileBytes(cut);
  WriteFileBytes(cut, bytes.substr(0, bytes.size() - 300));
  const std::string empty = app_.File("received/0302_empty.sff");
  WriteFileBytes(empty, bytes.substr(0, 20));
  const std::string whole = Capture("0303_whole.sff", {1728});
  {
    CFaxInbox formerRun(app_.Path(), log_);
    ASSERT_TRUE(formerRun.BeginReception(Call(cut, 0)).has_value());
    ASSERT_TRUE(formerRun.BeginReception(Call(empty, 0)).has_value());
    ASSERT_TRUE(formerRun.BeginReception(Call(whole, 0)).has_value());
    ASSERT_TRUE(formerRun.Record(Call(whole, 1)).has_value());
  }

  CDoneListener listener;
  CForwardingWorker worker(log_, pipeline_, settings_, app_.Path());
  worker.SetListener(&listener);
  worker.Start();
  const auto done = listener.WaitFor(2);
  worker.Stop();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].call.captureFilePath, whole) << "recorded first, forwarded first";
  EXPECT_EQ(done[1].call.captureFilePath, cut);

  const std::string line = "Incomplete: the service ended during the call, pages after 1 may be missing.";
  const ParsedMail mail = Mail(2);
  ASSERT_EQ(mail.partBytes.size(), 3u) << "the whole page and what came of the second: " << mail.summary;
  EXPECT_NE(mail.partBytes[0].find("\r\n" + line + "\r\n"), std::string::npos) << mail.partBytes[0];
  EXPECT_EQ(Mail(1).partBytes.at(0).find("Incomplete:"), std::string::npos);
  const auto journal = Journal();
  ASSERT_EQ(journal.size(), 2u) << "each once";
  for (const JournalEntry& row : journal)
    EXPECT_EQ(row.status, row.faxFile == app_.File("received/0303_whole.png") ? "" : line) << row.faxFile;
  EXPECT_TRUE(std::filesystem::is_empty(app_.File("FaxInbox"))) << "no record left, none set aside";
  EXPECT_TRUE(FileExists(empty)) << "the capture stays where it is";
}

// Against Postfix, which takes anna, refuses bea for good and carl for now:
// anna has the fax, the queue keeps it for carl alone, and the entry names both.
TEST_F(ForwardingPipeline, RecipientsRefusedAtTheFirstAttemptCostOnlyThemselves) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir mtaDir;
  CPostfixPeer mta(mtaDir.Path(), "fax-user", "Fax pass 1");
  settings_.SMTPPort = mta.Port("plain");
  FaxCallRecord call = Call(Capture("0301_fax.sff", {1728}), 1);
  call.recipients = "anna@kestrel.test;\"Bea, gone\" <bea@kestrel.test>;carl@kestrel.test";
  std::optional<FaxEntry> entry = inbox_.Record(call);
  ASSERT_TRUE(entry.has_value());
  ASSERT_EQ(pipeline_.Forward(*entry, inbox_, settings_, app_.Path()), ForwardingOutcome::Done);
  EXPECT_EQ(entry->mail, MailStep::Sent);
  EXPECT_EQ(entry->refusedRecipients, "bea@kestrel.test carl@kestrel.test");
  EXPECT_EQ(mta.MaildirFiles(1, "anna").size(), 1u);
  const std::vector<std::string> queued = MailQueueFileNames(MailQueueFolder(app_.Path()));
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(CSMTPMessage(log_).GetRecipientsFromFile(app_.File("MailQueue/" + queued[0])), "carl@kestrel.test");
}

}  // namespace
}  // namespace kestrel::test
