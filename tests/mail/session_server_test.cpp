// The SMTP session against a real server, aiosmtpd: delivery over HELO, the
// AUTH LOGIN and CRAM-MD5 logins (right and wrong passwords), and the queue
// file resent with the file form of SendMessage. What the server stored is
// checked byte for byte and parsed with Python's email package.
#include <gtest/gtest.h>

#include <regex>

#include "core/event_log.h"
#include "mail/smtp_session.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CSmtpServerPeer;
using test::CTempDir;
using test::EventDescriptions;
using test::LoggedForm;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::string WithoutDate(const std::string& bytes) {
  return std::regex_replace(bytes, std::regex("\r\nDate: [^\r]*\r\n"), "\r\nDate: X\r\n");
}

struct World {
  CTempDir dir;
  CTempDir serverDir;
  CEventLog log{dir.Path()};
  CSMTPSession session{log};
  CSMTPMessage message{log};

  World() {
    session.SetReplyTimeout(10000);
    message.SetSender(CMailAddress("Kestrel Fax", "fax@kestrel.test"));
    message.SetSubject("Fax von 030 1234 f\xc3\xbcr Sie");
    message.AddRecipients("anna@example.com; Bea <bea@example.com>");
    message.AddTextBody("Sie haben ein Fax erhalten.\n.\n.punkt am Anfang\nEnde\n");
    std::string pages;
    for (int i = 0; i < 3; ++i) {
      std::string name = dir.File("page" + std::to_string(i) + ".jpg");
      std::string bytes;
      for (int k = 0; k < 5000 * (i + 1); ++k) bytes += char((k * 7 + i) & 0xFF);
      WriteFileBytes(name, bytes);
      pages += name + ";";
    }
    message.AddAttachments(pages);
  }
  std::vector<std::string> Events() const { return EventDescriptions(dir.Path()); }
};

TEST(SessionServer, HeloDeliveryArrivesAsComposed) {
  World w;
  CSmtpServerPeer server(w.serverDir.Path(), "none");
  ASSERT_TRUE(w.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  ASSERT_TRUE(w.session.SendMessage(w.message));
  EXPECT_TRUE(w.session.Disconnect());
  EXPECT_TRUE(w.Events().empty());

  EXPECT_EQ(server.From(1), "fax@kestrel.test");
  EXPECT_EQ(server.Recipients(1), (std::vector<std::string>{"anna@example.com", "bea@example.com"}));
  WriteFileBytes(w.dir.File("received.eml"), server.Content(1));
  test::ParsedMail mail = test::ParseWithPython(w.dir.File("received.eml"), w.dir.Path());
  ASSERT_EQ(mail.partInfo.size(), 4u) << mail.summary;
  EXPECT_TRUE(mail.HasNoDefects()) << mail.summary;
  EXPECT_EQ(mail.headers["Subject"], "Fax von 030 1234 f\xc3\xbcr Sie");
  EXPECT_EQ(mail.headers["X-Mailer"], "Osprey v2.2.016");
  // The server undid the dot rule: the text is the body as composed.
  EXPECT_EQ(mail.partBytes[0], "Sie haben ein Fax erhalten.\r\n.\r\n.punkt am Anfang\r\nEnde\r\n\r\n");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(mail.partBytes[i + 1], ReadFileBytes(w.dir.File("page" + std::to_string(i) + ".jpg"))) << i;
}

TEST(SessionServer, QueueFileResentArrivesWithTheSameBytesAsTheMessage) {
  World w;
  CSmtpServerPeer server(w.serverDir.Path(), "none");
  const std::string queued = w.dir.File("0301234_08-12-2026-10-11-12.eml");
  ASSERT_TRUE(w.message.SaveToDisk(queued));

  ASSERT_TRUE(w.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  ASSERT_TRUE(w.session.SendMessage(w.message));
  // The monitor's form: recipients from the file's To header, a sender of its
  // own, blocks of 4096 bytes.
  ASSERT_TRUE(w.session.SendMessage(queued, CMailAddress("New Name", "new@kestrel.test"), 4096));
  EXPECT_TRUE(w.session.Disconnect());
  EXPECT_TRUE(w.Events().empty());

  EXPECT_EQ(WithoutDate(server.Content(2)), WithoutDate(server.Content(1)));
  // The same mail twice is recognisable as such: its Message-ID is kept.
  EXPECT_NE(server.Content(2).find("\r\nMessage-ID: " + w.message.MessageId() + "\r\n"), std::string::npos);
  EXPECT_EQ(server.From(2), "new@kestrel.test");
  EXPECT_EQ(server.Recipients(2), server.Recipients(1));
  // The file is sent as it stands: the server's copy is the file with its dot
  // rule undone and the CR LF before the end-of-data line.
  std::string file = ReadFileBytes(queued);
  EXPECT_EQ(std::regex_replace(file, std::regex("\n\\."), "\n") + "\r\n", server.Content(2));
}

TEST(SessionServer, EmptyOrMissingQueueFileIsNotSent) {
  World w;
  CSmtpServerPeer server(w.serverDir.Path(), "none");
  ASSERT_TRUE(w.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  WriteFileBytes(w.dir.File("empty.eml"), "");
  EXPECT_FALSE(w.session.SendMessage(w.dir.File("empty.eml"), CMailAddress("", "fax@kestrel.test")));
  EXPECT_FALSE(w.session.SendMessage(w.dir.File("gone.eml"), CMailAddress("", "fax@kestrel.test")));
  EXPECT_TRUE(w.session.Disconnect());
  EXPECT_EQ(w.Events(), (std::vector<std::string>{
                            "Mail_file_not_found!",
                            LoggedForm(" SendMessage, Could not open the file to send " + w.dir.File("gone.eml"))}));
}

// The first prompt's words carry no meaning: "User Name" gets the user name
// as "Username:" does.
TEST(SessionServer, AuthLoginAnswersAnyFirstPromptWithTheUserName) {
  for (const char* auth : {"login", "login-user-name"}) {
    World w;
    CSmtpServerPeer server(w.serverDir.Path(), auth, "fax-user", "pa ss:w0rd");
    ASSERT_TRUE(w.session.Connect("127.0.0.1", SmtpAuthentication::Login, "fax-user", "pa ss:w0rd", server.Port()))
        << auth;
    ASSERT_TRUE(w.session.SendMessage(w.message)) << auth;
    EXPECT_TRUE(w.session.Disconnect());
    EXPECT_EQ(server.Recipients(1).size(), 2u) << auth;
    EXPECT_TRUE(w.Events().empty()) << auth;
  }
}

TEST(SessionServer, AuthLoginWithWrongPasswordIsRefused) {
  World w;
  CSmtpServerPeer server(w.serverDir.Path(), "login", "fax-user", "right");
  EXPECT_FALSE(w.session.Connect("127.0.0.1", SmtpAuthentication::Login, "fax-user", "wrong", server.Port()));
  EXPECT_EQ(w.session.LastReplyCode(), 221);
  EXPECT_EQ(w.Events(),
            (std::vector<std::string>{LoggedForm(" AuthLogin, AUTH LOGIN authentication was unsuccessful"),
                                      LoggedForm(" Connect, An unexpected HELO/EHLO response was received")}));
}

TEST(SessionServer, CramMd5LogsInAndAWrongPasswordIsRefused) {
  World w;
  const std::string longPassword(65, 'k');  // longer than a block: hashed first
  CSmtpServerPeer server(w.serverDir.Path(), "cram", "fax-user", longPassword);
  ASSERT_TRUE(w.session.Connect("127.0.0.1", SmtpAuthentication::CramMd5, "fax-user", longPassword, server.Port()));
  ASSERT_TRUE(w.session.SendMessage(w.message));
  EXPECT_TRUE(w.session.Disconnect());
  EXPECT_EQ(server.Recipients(1).size(), 2u);
  EXPECT_TRUE(w.Events().empty());

  CSMTPSession second(w.log);
  EXPECT_FALSE(second.Connect("127.0.0.1", SmtpAuthentication::CramMd5, "fax-user", "not it", server.Port()));
  EXPECT_EQ(w.Events(),
            (std::vector<std::string>{LoggedForm(" CramLogin, AUTH CRAM-MD5 authentication was unsuccessful"),
                                      LoggedForm(" Connect, An unexpected HELO/EHLO response was received")}));
}

}  // namespace
}  // namespace kestrel
