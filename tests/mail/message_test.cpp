// The message format: header block, part tree, attachments and the queue file,
// checked byte for byte where the format fixes the bytes and by Python's email
// package for what a mail program will make of them; the recipients a queue
// file gives back, and every way saving one can fail.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <random>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/event_log.h"
#include "mail/base64_codec.h"
#include "mail/smtp_message.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CTempDir;
using test::EventDescriptions;
using test::LoggedForm;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = char(gen() & 0xFF);
  return out;
}

std::string WithoutDate(const std::string& bytes) {
  return std::regex_replace(bytes, std::regex("\r\nDate: [^\r]*\r\n"), "\r\nDate: X\r\n");
}

struct Fixture {
  CTempDir dir;
  CEventLog log{dir.Path()};
  CSMTPMessage message{log};

  Fixture() {
    message.SetSender(CMailAddress("Kestrel Fax", "fax@kestrel.test"));
    message.SetSubject("Fax from 0301234");
    message.AddRecipients("anna@example.com;Bea <bea@example.com>");
  }
  std::string Attachment(const std::string& name, const std::string& bytes) {
    WriteFileBytes(dir.File(name), bytes);
    return dir.File(name);
  }
};

TEST(MailMessage, ForwardedFaxIsWrittenInTheFixedLayout) {
  Fixture f;
  f.message.AddTextBody("Line one\nLine two\n");
  std::string a = f.Attachment("a.bin", RandomBytes(57, 1));
  std::string b = f.Attachment("b.bin", "");
  ASSERT_EQ(f.message.AddAttachments(a + " ; " + b + ";"), 2);
  ASSERT_TRUE(f.message.SaveToDisk(f.dir.File("fax.eml")));

  const std::string r = f.message.RootPart().Boundary();
  EXPECT_TRUE(std::regex_match(r, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
  std::string expected =
      "From: Kestrel Fax <fax@kestrel.test>\r\n"
      "To: anna@example.com,Bea <bea@example.com>\r\n"
      "Subject: Fax from 0301234\r\n"
      "Date: X\r\n"
      "X-Mailer: Osprey v2.2.016\r\n"
      "Message-ID: " +
      f.message.MessageId() +
      "\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"" +
      r +
      "\"\r\n"
      "\r\n"
      "This is a multi-part message in MIME format"
      "\r\n--" +
      r +
      "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
      "Line one\r\nLine two\r\n"
      "\r\n\r\n--" +
      r +
      "\r\nContent-Type: application/octet-stream; name=a.bin\r\n"
      "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n\r\n" +
      CBase64Codec::Encode(ReadFileBytes(a)) +
      "\r\n"
      "\r\n\r\n--" +
      r +
      "\r\nContent-Type: application/octet-stream; name=b.bin\r\n"
      "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"b.bin\"\r\n\r\n"
      "\r\n--" +
      r + "--";
  EXPECT_EQ(WithoutDate(ReadFileBytes(f.dir.File("fax.eml"))), expected);
  EXPECT_FALSE(test::FileExists(f.dir.File("fax.eml.tmp")));
}

TEST(MailMessage, PythonDecodesEveryAttachmentToTheBytesOfItsFile) {
  Fixture f;
  f.message.AddTextBody(
      "Gr\xc3\xbc\xc3\x9f"
      "e aus Kestrel\n.\n" +
      std::string(150, 'z') + "\nEnde");
  std::vector<size_t> sizes = {0, 1, 57, 58, 1 << 20};
  std::string paths;
  for (size_t i = 0; i < sizes.size(); ++i)
    paths += f.Attachment("page" + std::to_string(i) + ".bin", RandomBytes(sizes[i], unsigned(i))) + ",";
  ASSERT_EQ(f.message.AddAttachments(paths), 5);
  ASSERT_TRUE(f.message.SaveToDisk(f.dir.File("fax.eml")));

  test::ParsedMail mail = test::ParseWithPython(f.dir.File("fax.eml"), f.dir.Path());
  ASSERT_EQ(mail.partInfo.size(), 6u) << mail.summary;
  EXPECT_TRUE(mail.HasNoDefects()) << mail.summary;
  EXPECT_EQ(mail.headers["Subject"], "Fax from 0301234");
  EXPECT_EQ(mail.headers["To"], "anna@example.com, Bea <bea@example.com>");
  EXPECT_EQ(mail.partInfo[0], "text/plain - iso-8859-1 quoted-printable");
  // The saved file carries the dot rule, which the SMTP server undoes; the
  // line end before the first attachment's blank line belongs to the text.
  EXPECT_EQ(mail.partBytes[0],
            "Gr\xc3\xbc\xc3\x9f"
            "e aus Kestrel\r\n..\r\n" +
                std::string(150, 'z') + "\r\nEnde\r\n");
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string name = "page" + std::to_string(i) + ".bin";
    EXPECT_EQ(mail.partInfo[i + 1], "application/octet-stream " + name + " - base64");
    EXPECT_EQ(mail.partBytes[i + 1], ReadFileBytes(f.dir.File(name))) << name;
  }
}

TEST(MailMessage, AttachmentBodyIsBase64LinesOf76Characters) {
  Fixture f;
  f.message.AddAttachments(f.Attachment("p57", RandomBytes(57, 3)) + ";" + f.Attachment("p58", RandomBytes(58, 4)) +
                           ";" + f.Attachment("p0", ""));
  const CMailPart& root = f.message.RootPart();
  ASSERT_EQ(root.ChildCount(), 3u);
  Result<std::string> body = root.Child(0).GetBody();
  ASSERT_TRUE(body);
  EXPECT_EQ(body->size(), 78u);
  EXPECT_EQ(body->substr(76), "\r\n");
  body = root.Child(1).GetBody();
  ASSERT_TRUE(body);
  EXPECT_EQ(body->size(), 76u + 2 + 4 + 2);
  EXPECT_EQ(body->substr(76, 2), "\r\n");
  body = root.Child(2).GetBody();
  ASSERT_TRUE(body);
  EXPECT_EQ(*body, "");
}

TEST(MailMessage, TextPartsAndAttachmentsKeepTheirOrder) {
  Fixture f;
  f.message.AddTextBody("body");
  f.message.AddAttachments(f.Attachment("one.jpg", "1") + ";" + f.dir.File("missing.jpg"));
  f.message.AddAttachments(f.Attachment("two.jpg", "2"));
  f.message.AddTextBody("new body");
  const CMailPart& root = f.message.RootPart();
  EXPECT_EQ(root.ContentType(), "multipart/mixed");
  EXPECT_EQ(root.Text(), "This is a multi-part message in MIME format");
  ASSERT_EQ(root.ChildCount(), 3u);
  EXPECT_EQ(root.Child(0).ContentType(), "text/plain");
  EXPECT_EQ(root.Child(0).Text(), "new body");
  EXPECT_EQ(root.Child(1).FileTitle(), "one.jpg");
  EXPECT_EQ(root.Child(2).FileTitle(), "two.jpg");
  EXPECT_EQ(root.Child(2).Parent(), &root);

  // Switching multipart off drops the parts; the root text stays.
  f.message.SetMultipart(0);
  EXPECT_EQ(root.ChildCount(), 0u);
  EXPECT_FALSE(f.message.UsesPartTree());
}

TEST(MailMessage, CopiesAreDeepAndKeepBoundaries) {
  Fixture f;
  f.message.AddTextBody("body");
  f.message.AddAttachments(f.Attachment("one.jpg", "1"));
  CSMTPMessage copy = f.message;
  ASSERT_EQ(copy.RootPart().ChildCount(), 2u);
  EXPECT_EQ(copy.RootPart().Boundary(), f.message.RootPart().Boundary());
  EXPECT_EQ(copy.RootPart().Child(1).Parent(), &copy.RootPart());
  const Result<std::string> header = copy.RootPart().Child(1).GetHeader();
  ASSERT_TRUE(header);
  EXPECT_NE(header->find("--" + f.message.RootPart().Boundary() + "\r\n"), std::string::npos);
}

TEST(MailMessage, SinglePartMessageDeclaresItsCharsetAndKeepsLatin1Bytes) {
  Fixture f;
  f.message.AddTextBody(
      ".Gr\xc3\xbc\xc3\x9f"
      "e\r\rzwei");
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_wday = 2;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  tm.tm_sec = 3;
  tm.tm_gmtoff = 3600;
  EXPECT_EQ(f.message.GetHeader(tm),
            "From: Kestrel Fax <fax@kestrel.test>\r\nTo: anna@example.com,Bea <bea@example.com>\r\n"
            "Subject: Fax from 0301234\r\nDate: Tue, 08 Dec 2026 09:05:03 +0100\r\nX-Mailer: Osprey v2.2.016\r\n"
            "Message-ID: " +
                f.message.MessageId() +
                "\r\n"
                "Content-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n");
  EXPECT_EQ(f.message.SinglePartBody(),
            "..Gr\xfc\xdf"
            "e\r\n\r\nzwei");

  f.message.AddTextBody("Preis 5 \xe2\x82\xac");
  EXPECT_NE(f.message.GetHeader().find("\tcharset=utf-8\r\n"), std::string::npos);
  EXPECT_EQ(f.message.SinglePartBody(), "Preis 5 \xe2\x82\xac");
}

TEST(MailMessage, DateZoneComesFromTheLocalOffset) {
  std::tm tm{};
  tm.tm_year = 126;
  tm.tm_mday = 1;
  tm.tm_wday = 4;
  tm.tm_gmtoff = 5 * 3600 + 1800;
  EXPECT_EQ(FormatMailDate(tm), "Thu, 01 Jan 2026 00:00:00 +0530");
  tm.tm_gmtoff = -(3 * 3600 + 1800);
  EXPECT_EQ(FormatMailDate(tm), "Thu, 01 Jan 2026 00:00:00 -0330");
  tm.tm_gmtoff = 0;
  EXPECT_EQ(FormatMailDate(tm), "Thu, 01 Jan 2026 00:00:00 +0000");

  // Through the process's own time zone, whatever its locale.
  ::setenv("TZ", "IST-5:30", 1);
  ::tzset();
  Fixture f;
  EXPECT_TRUE(
      std::regex_search(f.message.GetHeader(), std::regex("\r\nDate: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                                          "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
                                                          "\\d\\d:\\d\\d:\\d\\d \\+0530\r\n")));
}

TEST(MailMessage, NonAsciiSubjectAndNamesDecodeToTheOriginalText) {
  Fixture f;
  f.message.SetSender(CMailAddress("J\xc3\xbcrgen B\xc3\xb6hm", "jb@kestrel.test"));
  f.message.SetSubject("Fax f\xc3\xbcr Z\xc3\xbcrich");
  f.message.AddRecipients("Zo\xc3\xab <zoe@example.com>", CSMTPMessage::kCc);
  f.message.AddTextBody("Kosten: 5 \xe2\x82\xac");
  f.message.AddAttachments(f.Attachment("x.bin", "x"));
  std::string header = f.message.GetHeader();
  EXPECT_NE(header.find("\r\nSubject: =?iso-8859-1?q?Fax_f=FCr_Z=FCrich?=\r\n"), std::string::npos) << header;
  EXPECT_NE(header.find("From: =?iso-8859-1?q?J=FCrgen_B=F6hm?= <jb@kestrel.test>\r\n"), std::string::npos);
  ASSERT_TRUE(f.message.SaveToDisk(f.dir.File("m.eml")));

  test::ParsedMail mail = test::ParseWithPython(f.dir.File("m.eml"), f.dir.Path());
  EXPECT_EQ(mail.headers["Subject"], "Fax f\xc3\xbcr Z\xc3\xbcrich") << mail.summary;
  EXPECT_EQ(mail.headers["From"], "J\xc3\xbcrgen B\xc3\xb6hm <jb@kestrel.test>");
  EXPECT_EQ(mail.headers["Cc"], "Zo\xc3\xab <zoe@example.com>");
  ASSERT_EQ(mail.partInfo.size(), 2u);
  EXPECT_EQ(mail.partInfo[0], "text/plain - utf-8 quoted-printable");
  EXPECT_EQ(mail.partBytes[0], "Kosten: 5 \xe2\x82\xac\r\n");
}

TEST(MailMessage, LineBreaksInSubjectAndSenderBecomeBlanks) {
  Fixture f;
  f.message.SetSubject("Fax\r\nBcc: spy@example.com");
  f.message.SetSender(CMailAddress("Evil\nName", "fax@kestrel.test\r\nRCPT TO:<spy@example.com>"));
  std::string header = f.message.GetHeader();
  EXPECT_NE(header.find("\r\nSubject: Fax  Bcc: spy@example.com\r\n"), std::string::npos);
  EXPECT_EQ(header.find("\r\nBcc"), std::string::npos);
  EXPECT_EQ(header.find("\nName"), std::string::npos);
  EXPECT_EQ(f.message.Sender().Address().find_first_of("\r\n"), std::string::npos);
}

// Whatever goes wrong, the caller hears of it once and no file, whole or
// partial, is left under the queue name or the temporary one.
TEST(MailMessage, SaveToDiskReportsEveryFailureAndLeavesNoFile) {
  enum Fault { kNoFolder, kAttachmentGone, kDiskFull };
  for (Fault fault : {kNoFolder, kAttachmentGone, kDiskFull}) {
    Fixture f;
    f.message.AddTextBody("body");
    ASSERT_TRUE(f.message.AddAttachment(f.Attachment("page.jpg", RandomBytes(1 << 20, 7))));
    std::string path = f.dir.File(fault == kNoFolder ? "no/such/folder/m.eml" : "m.eml");
    std::string expected =
        "CSMTPMessage::SaveToDisk, A file exception occured while trying to save the message to file " + path;
    bool saved = true;
    if (fault == kAttachmentGone) {
      ::unlink(f.dir.File("page.jpg").c_str());
      expected =
          "CSMTPMessage::WriteToDisk, Failed in call to send body parts body, GetLastError returns: No such "
          "file or directory";
    }
    if (fault == kDiskFull) {
      // Room for the event log, not for the message.
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        rlimit limit{64 << 10, 64 << 10};
        ::signal(SIGXFSZ, SIG_IGN);
        ::_exit(::setrlimit(RLIMIT_FSIZE, &limit) == 0 && !f.message.SaveToDisk(path) ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      saved = !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      saved = f.message.SaveToDisk(path);
    }
    EXPECT_FALSE(saved) << fault;
    EXPECT_FALSE(test::FileExists(path)) << fault;
    EXPECT_FALSE(test::FileExists(path + ".tmp")) << fault;
    EXPECT_EQ(EventDescriptions(f.dir.Path()), std::vector<std::string>{LoggedForm(expected)}) << fault;
  }
}

TEST(MailMessage, MessageIdIsMadeOnceAndTravelsWithTheMessage) {
  Fixture f;
  Fixture other;
  const std::string id = f.message.MessageId();
  EXPECT_TRUE(std::regex_match(id, std::regex("<[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}@[A-Za-z0-9.-]+>"))) << id;
  EXPECT_NE(other.message.MessageId(), id);
  EXPECT_EQ(CSMTPMessage(f.message).MessageId(), id);
  f.message.AddTextBody("body");
  ASSERT_TRUE(f.message.SaveToDisk(f.dir.File("a.eml")));
  EXPECT_NE(ReadFileBytes(f.dir.File("a.eml")).find("\r\nMessage-ID: " + id + "\r\n"), std::string::npos);
  EXPECT_NE(f.message.GetHeader().find("\r\nMessage-ID: " + id + "\r\n"), std::string::npos);
}

// A page file is one path, whatever it holds; a mail program gets back the
// very name and bytes.
TEST(MailMessage, AttachmentByPathTakesAnyCharacterOfItsName) {
  Fixture f;
  f.message.AddTextBody("body");
  const std::vector<std::string> names = {"plain.jpg", "a,b;c.jpg", "with blank.png", "quote\"and\\slash.tif"};
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_TRUE(f.message.AddAttachment(f.Attachment(names[i], RandomBytes(100 + i, unsigned(i))))) << names[i];
  EXPECT_FALSE(f.message.AddAttachment(f.dir.File("missing,page.jpg")));
  EXPECT_FALSE(f.message.AddAttachment(f.dir.Path()));
  ASSERT_TRUE(f.message.SaveToDisk(f.dir.File("fax.eml")));
  EXPECT_NE(ReadFileBytes(f.dir.File("fax.eml")).find("; name=plain.jpg\r\n"), std::string::npos);

  test::ParsedMail mail = test::ParseWithPython(f.dir.File("fax.eml"), f.dir.Path());
  ASSERT_EQ(mail.partInfo.size(), names.size() + 1) << mail.summary;
  EXPECT_TRUE(mail.HasNoDefects()) << mail.summary;
  const std::vector<std::string> types = {"image/jpeg", "image/jpeg", "image/png", "image/tiff"};
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(mail.partInfo[i + 1], types[i] + " " + names[i] + " - base64");
    EXPECT_EQ(mail.partBytes[i + 1], ReadFileBytes(f.dir.File(names[i]))) << names[i];
  }
}

// What the composer keeps, the queue file gives back; what it drops, it names
// in one event line each.
TEST(MailMessage, RecipientsReadBackFromTheQueueFileAsComposed) {
  CTempDir dir;
  CEventLog log(dir.Path());
  CSMTPMessage message(log);
  message.AddRecipients(
      "good@example.org, <x<y@example.org>;Zo\xc3\xab Office <zoe@example.org>;Bea <b@y.de;evil@x.de\r\nRCPT "
      "TO:<spy@y.de>; \"Quoted\" <q@example.org>, \"Doe, John\" <john@example.org>, \"M\xc3\xbcller, Hans\" "
      "<mh@example.org>");
  std::vector<std::string> composed;
  for (const CMailAddress& a : message.Recipients(CSMTPMessage::kTo)) composed.push_back(a.Address());
  EXPECT_EQ(composed, (std::vector<std::string>{"good@example.org", "zoe@example.org", "q@example.org",
                                                "john@example.org", "mh@example.org"}));
  EXPECT_EQ(EventDescriptions(dir.Path()),
            (std::vector<std::string>{
                LoggedForm("CSMTPMessage::AddRecipients, Dropped an address that cannot be read: <x<y@example.org>"),
                LoggedForm("CSMTPMessage::AddRecipients, Dropped an address that cannot be read: Bea <b@y.de"),
                LoggedForm("CSMTPMessage::AddRecipients, Dropped an address that cannot be read: evil@x.de  RCPT "
                           "TO:<spy@y.de>")}));

  message.AddTextBody("body");
  ASSERT_TRUE(message.SaveToDisk(dir.File("q.eml")));
  std::vector<std::string> readBack;
  for (const CMailAddress& a : ParseAddressList(message.GetRecipientsFromFile(dir.File("q.eml"))))
    readBack.push_back(a.Address());
  EXPECT_EQ(readBack, composed);
}

TEST(MailMessage, RecipientsOfAQueueFileComeFromItsFirstToHeader) {
  CTempDir dir;
  CEventLog log(dir.Path());
  CSMTPMessage reader(log);
  std::string longList;
  for (int i = 0; i < 60; ++i) longList += "person" + std::to_string(i) + "@example.com,";
  WriteFileBytes(dir.File("a.eml"),
                 "From: x@y\r\nX-To: no@example.com\r\n  to: folded@example.com\r\ntO :  " + longList +
                     "last@example.com  \r\nTo: second@example.com\r\n\r\nTo: body@example.com\r\n");
  EXPECT_EQ(reader.GetRecipientsFromFile(dir.File("a.eml")), longList + "last@example.com");

  WriteFileBytes(dir.File("b.eml"), "From: x@y\r\n\r\nTo: body@example.com\r\n");
  EXPECT_EQ(reader.GetRecipientsFromFile(dir.File("b.eml")), " ");
  WriteFileBytes(dir.File("c.eml"), "");
  EXPECT_EQ(reader.GetRecipientsFromFile(dir.File("c.eml")), " ");
  EXPECT_TRUE(EventDescriptions(dir.Path()).empty());

  EXPECT_EQ(reader.GetRecipientsFromFile(dir.File("missing.eml")), " ");
  EXPECT_EQ(EventDescriptions(dir.Path()), std::vector<std::string>{"Mail_file_not_found!"});
}

}  // namespace
}  // namespace kestrel
