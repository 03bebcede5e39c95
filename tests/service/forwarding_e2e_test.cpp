// One fax from the simulated line to the mail server, through the whole
// service: every image format with one and three pages (the PDF as one
// application/pdf attachment), the journal row of a
// fax whose line miscounts its pages, routing by the MSN and caller tables
// (an unreadable address dropped alone), pages in a folder whose name holds
// list separators, a caller without number.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "store/forwarding_table.h"
#include "store/odbc_connection.h"
#include "tests/service/service_fixture.h"

namespace kestrel::test {
namespace {

// The capture file the worker wrote into `folder` (exactly one expected).
std::string CaptureFile(const std::string& folder) {
  std::vector<std::string> found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".sff") == 0) found.push_back(folder + name);
    }
    ::closedir(dir);
  }
  EXPECT_EQ(found.size(), 1u);
  return found.empty() ? "" : found[0];
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

struct FormatCase {
  int imageFormat;
  int pages;
};

std::string CaseName(const ::testing::TestParamInfo<FormatCase>& info) {
  const char* names[] = {"Jpg", "Png", "Tiff", "Sff", "Pdf"};
  return std::string(names[info.param.imageFormat]) + "_" + std::to_string(info.param.pages) + "Pages";
}

class ForwardedFax : public ServiceTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ForwardedFax, ArrivesWithSubjectBodyAttachmentsAndJournalRow) {
  const auto [format, pages] = GetParam();
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.ImageFormat = ImageFormatFromNumber(format);
  StartService(settings);
  Call("fax", "0301234567", MakeFax(pages), pages);
  ASSERT_TRUE(WaitForMessages(1));

  const std::string sff = CaptureFile(ReceivedDir());
  const std::string base = sff.substr(0, sff.size() - 4);
  std::vector<std::string> expected;
  const char* ext = format == 0 ? ".jpg" : ".png";
  if (format <= 1 && pages > 1) {
    for (int n = 1; n <= pages; ++n) expected.push_back(base + "_" + std::to_string(n) + ext);
  } else if (format <= 1) {
    expected.push_back(base + ext);
  } else if (format == 2) {
    expected.push_back(base + ".tif");
  } else if (format == 4) {
    expected.push_back(base + ".pdf");
  } else {
    expected.push_back(sff);
  }

  ParsedMail mail = Parsed(1);
  EXPECT_TRUE(mail.HasNoDefects()) << mail.summary;
  EXPECT_EQ(mail.headers["Subject"], "Fax from 0301234567");
  EXPECT_EQ(mail.headers["From"], "Kestrel Fax <fax@kestrel.test>");
  EXPECT_EQ(mail_->Recipients(1), std::vector<std::string>{"office@kestrel.test"});
  ASSERT_EQ(mail.partBytes.size(), expected.size() + 1) << mail.summary;
  const std::string& body = mail.partBytes[0];
  EXPECT_EQ(body.rfind("Received By Kestrel v1.3.33 on ", 0), 0u) << body;
  EXPECT_NE(body.find("Number of Pages: " + std::to_string(pages)), std::string::npos) << body;
  EXPECT_NE(body.find("Connection Speed: 14400"), std::string::npos);
  EXPECT_NE(body.find("Incomming Fax Number: 0301234567"), std::string::npos);
  EXPECT_NE(body.find("Incomming Fax ID: 4930999"), std::string::npos);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NE(mail.partInfo[i + 1].find(" " + FileName(expected[i]) + " "), std::string::npos) << mail.partInfo[i + 1];
    // Each page with its media type, and no character set on binary content.
    static const char* const kTypes[] = {"image/jpeg", "image/png", "image/tiff", "application/octet-stream",
                                         "application/pdf"};
    EXPECT_EQ(mail.partInfo[i + 1], std::string(kTypes[format]) + " " + FileName(expected[i]) + " - base64");
    std::string onDisk = ReadFileBytes(expected[i]);
    EXPECT_FALSE(onDisk.empty()) << expected[i];
    EXPECT_TRUE(mail.partBytes[i + 1] == onDisk) << "attachment " << i << " equals " << expected[i];
  }

  auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].senderNr, "0301234567");
  EXPECT_EQ(journal[0].numberOfPages, pages);
  EXPECT_EQ(journal[0].faxFile, expected[0]);
  EXPECT_TRUE(QueueFiles().empty());
  ASSERT_TRUE(Eventually([&] { return forwarded_.Faxes().size() == 1; }));
  EXPECT_TRUE(forwarded_.Faxes()[0].mailed);
  EXPECT_EQ(forwarded_.Faxes()[0].faxFile, expected[0]);
  EXPECT_EQ(forwarded_.Faxes()[0].call.callerNumber, "0301234567");
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ForwardedFax,
                         ::testing::Values(FormatCase{0, 1}, FormatCase{0, 3}, FormatCase{1, 1}, FormatCase{1, 3},
                                           FormatCase{2, 1}, FormatCase{2, 3}, FormatCase{3, 1}, FormatCase{3, 3},
                                           FormatCase{4, 1}, FormatCase{4, 3}),
                         CaseName);

// The line's page count and the file's may differ: the pages come from the
// file, and the journal names the first page file that was written.
TEST_F(ServiceTest, JournalNamesTheFirstPageWrittenWhenTheLineMiscountsPages) {
  StartSim();
  StartMailServer();
  StartService(BaseSettings(MailPort()));
  Call("fax", "0301234567", MakeFax(3), 1);
  ASSERT_TRUE(WaitForMessages(1));

  const std::string sff = CaptureFile(ReceivedDir());
  const std::string firstPage = sff.substr(0, sff.size() - 4) + "_1.png";
  EXPECT_EQ(Parsed(1).partBytes.size(), 4u);
  auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].numberOfPages, 1);
  EXPECT_EQ(journal[0].faxFile, firstPage);
  EXPECT_FALSE(ReadFileBytes(firstPage).empty());
}

TEST_F(ServiceTest, RecipientsComeFromMsnRowThenCallerRowsInOrder) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.All = 0;
  settings.EmailAll = "";
  StartService(settings);
  {
    COdbcConnection admin;
    AddForwardingRow(admin, ForwardingTable::kMsn, {"1234567", "msn@kestrel.test"});
    AddForwardingRow(admin, ForwardingTable::kTsid, {"0301234567", "first@kestrel.test"});
    AddForwardingRow(admin, ForwardingTable::kTsid, {"0301234567", "second@kestrel.test"});
    AddForwardingRow(admin, ForwardingTable::kTsid, {"0309999999", "other@kestrel.test"});
  }
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1),
            (std::vector<std::string>{"msn@kestrel.test", "first@kestrel.test", "second@kestrel.test"}));
  ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers["To"], "msn@kestrel.test, first@kestrel.test, second@kestrel.test");
}

TEST_F(ServiceTest, AnUnreadableAddressCostsOnlyItself) {
  StartSim();
  StartMailServer();
  StartService(BaseSettings(MailPort()));
  {
    COdbcConnection admin;
    AddForwardingRow(admin, ForwardingTable::kTsid, {"0301234567", "x<y@kestrel.test"});
    AddForwardingRow(admin, ForwardingTable::kTsid, {"0301234567", "second@kestrel.test"});
  }
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(mail_->Recipients(1), (std::vector<std::string>{"office@kestrel.test", "second@kestrel.test"}));
  EXPECT_TRUE(WaitForEvent("CSMTPMessage::AddRecipients, Dropped an address that cannot be read: x<y@kestrel.test"));
}

TEST_F(ServiceTest, EveryPageIsAttachedWhateverItsFolderIsCalled) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.ReceivedDir = app_.Path() + "in, box; 2/";
  StartService(settings);
  Call("fax", "0301234567", MakeFax(3), 3);
  ASSERT_TRUE(WaitForMessages(1));
  ParsedMail mail = Parsed(1);
  ASSERT_EQ(mail.partBytes.size(), 4u) << mail.summary;
  const std::string sff = CaptureFile(settings.ReceivedDir);
  EXPECT_TRUE(mail.partBytes[3] == ReadFileBytes(sff.substr(0, sff.size() - 4) + "_3.png"));
}

TEST_F(ServiceTest, CallToUnknownMsnIsNotTakenAndNothingIsMailed) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.All = 0;
  StartService(settings);
  Call("fax", "0301234567", MakeFax(1), 1, "7654321", "ring-timeout=1500");
  ASSERT_TRUE(sim_->WaitFor("SEND DISCONNECT_IND"));
  ASSERT_TRUE(sim_->WaitFor("RECV DISCONNECT_RESP"));
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV CONNECT_RESP").empty());
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV ALERT_REQ").empty());
  EXPECT_EQ(StoredMessages(), 0);
  EXPECT_TRUE(Journal().empty());
}

TEST_F(ServiceTest, CallerWithoutNumberIsUnbekanntInTheSubject) {
  StartSim();
  StartMailServer();
  StartService(BaseSettings(MailPort()));
  Call("fax", "", MakeFax(1), 1);
  ASSERT_TRUE(WaitForMessages(1));
  ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers["Subject"], "Fax from Unbekannt");
  const std::string& body = mail.partBytes[0];
  auto at = body.find("Incomming Fax Number: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(body.compare(at + 22, 1, "\r") == 0 || body.compare(at + 22, 1, "\n") == 0) << body;
  auto journal = Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].senderNr, "");
}

TEST_F(ServiceTest, NoRecipientAndBlankCatchAllMailsNothingButJournals) {
  StartSim();
  StartMailServer();
  ServiceSettings settings = BaseSettings(MailPort());
  settings.EmailAll = " ";
  StartService(settings);
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(WaitForEvent("No valid Email to Send Unknown Faxes - Set the address in the Admin Interface"));
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 1; }));
  EXPECT_EQ(StoredMessages(), 0);
  EXPECT_TRUE(QueueFiles().empty());
  EXPECT_TRUE(ReadFileBytes(Journal()[0].faxFile).size() > 0) << "the page image stays on disk";
}

}  // namespace
}  // namespace kestrel::test
