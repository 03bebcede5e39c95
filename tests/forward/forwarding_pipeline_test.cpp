// The forwarding pipeline over a fax inbox, with the embedded store and
// aiosmtpd: a fax whose pages cannot be written is neither mailed without
// them nor queued nor journaled, stays recorded, and goes out whole, with the
// Message-ID of its first attempt, once its pages can be written.
#include "forward/forwarding_pipeline.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "forward/fax_inbox.h"
#include "forward/recipient_resolution.h"
#include "store/journal.h"
#include "tests/convert/page_render.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {
namespace {

TEST(ForwardingPipeline, PagesThatCannotBeWrittenKeepTheFaxUntilTheyCan) {
  CTempDir app, mailOut;
  CTestDatabase db{Engine::kSQLite};
  CEventLog log{app.Path()};
  COdbcConnection lookups{db.ConnectString()};
  CRecipientResolver resolver{1, "office@kestrel.test", lookups, log};
  CForwardingPipeline pipeline{log, resolver, db.ConnectString()};
  CSmtpServerPeer server(mailOut.Path(), "none");

  std::vector<tools::SffMakePage> pages(1);
  pages[0].image = RenderLetterPage(1728, 1100, 3);
  ::mkdir(app.File("received").c_str(), 0700);
  const std::string sff = app.File("received/0301_fax.sff");
  WriteFileBytes(sff, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
  // A folder where the page image belongs: the page cannot be written.
  ::mkdir(app.File("received/0301_fax.png").c_str(), 0700);

  ServiceSettings settings;
  settings.ImageFormat = ImageFormat::Png;
  settings.Name = "Kestrel Fax";
  settings.Address = "fax@kestrel.test";
  settings.SMTPServer = "127.0.0.1";
  settings.SMTPPort = server.Port();
  FaxCallRecord call;
  call.captureFilePath = sff;
  call.callerNumber = "0301";
  call.pages = 1;
  call.startTime = call.endTime = std::time(nullptr);
  call.recipients = "office@kestrel.test";
  CFaxInbox inbox(app.Path(), log);
  std::optional<FaxEntry> entry = inbox.Record(call);
  ASSERT_TRUE(entry.has_value());

  EXPECT_EQ(pipeline.Forward(*entry, inbox, settings, app.Path()), ForwardingOutcome::TryLater);
  ASSERT_EQ(inbox.Pending().size(), 1u);
  FaxEntry waiting = inbox.Pending()[0];
  EXPECT_FALSE(waiting.messageId.empty());
  EXPECT_EQ(waiting.mail, MailStep::Pending);
  EXPECT_FALSE(FileExists(app.File("MailQueue"))) << "not queued without its pages";
  EXPECT_TRUE(ListJournalEntries(db.ConnectString()).entries.empty());
  EXPECT_FALSE(FileExists(mailOut.File("1.content"))) << "not mailed without its pages";

  ::rmdir(app.File("received/0301_fax.png").c_str());
  EXPECT_EQ(pipeline.Forward(waiting, inbox, settings, app.Path()), ForwardingOutcome::Done);
  EXPECT_TRUE(inbox.Pending().empty());
  const std::string mail = server.Content(1);
  EXPECT_NE(mail.find("Message-ID: " + waiting.messageId + "\r\n"), std::string::npos) << "the first attempt's id";
  EXPECT_NE(mail.find("0301_fax.png"), std::string::npos) << "the page is attached";
  const auto journal = ListJournalEntries(db.ConnectString()).entries;
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].faxFile, app.File("received/0301_fax.png"));
}

}  // namespace
}  // namespace kestrel::test
