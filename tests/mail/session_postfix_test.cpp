// The SMTP session against a real mail server that no one here wrote:
// Debian's Postfix with Dovecot SASL, started by the test on loopback ports
// with its own CA. Every login a provider offers (none, CRAM-MD5, AUTH LOGIN,
// AUTH PLAIN) over STARTTLS and over TLS from the first byte, each mail read
// back from the Maildir with Python's email package, pages intact.
// ("AUTH LOGIN PLAIN" is a dialogue Dovecot refuses; its TLS case runs
// against aiosmtpd in session_tls_test.cpp.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <set>

#include "core/event_log.h"
#include "mail/smtp_session.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CPostfixPeer;
using test::CTempDir;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr char kUser[] = "fax-user";
constexpr char kPassword[] = "Fax pass 1";

TEST(SessionPostfix, EveryLoginDeliversOverStartTlsAndImplicitTls) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir dir, work;
  CPostfixPeer mta(dir.Path(), kUser, kPassword);
  CEventLog log{work.Path()};
  std::vector<std::string> pages;
  for (int i = 0; i < 2; ++i) {
    std::string bytes;
    for (int k = 0; k < 30000 * (i + 1); ++k) bytes += char((k * 13 + i) & 0xFF);
    pages.push_back(work.File("page" + std::to_string(i) + ".png"));
    WriteFileBytes(pages.back(), bytes);
  }

  struct Case {
    SmtpSecurity security;
    const char* listener;
    SmtpAuthentication method;
  };
  const Case cases[] = {
      {SmtpSecurity::StartTls, "submission", SmtpAuthentication::None},
      {SmtpSecurity::StartTls, "submission", SmtpAuthentication::CramMd5},
      {SmtpSecurity::StartTls, "submission", SmtpAuthentication::Login},
      {SmtpSecurity::StartTls, "submission", SmtpAuthentication::Plain},
      {SmtpSecurity::Tls, "smtps", SmtpAuthentication::None},
      {SmtpSecurity::Tls, "smtps", SmtpAuthentication::CramMd5},
      {SmtpSecurity::Tls, "smtps", SmtpAuthentication::Login},
      {SmtpSecurity::Tls, "smtps", SmtpAuthentication::Plain},
  };
  std::set<std::string> seen;
  for (const Case& c : cases) {
    const std::string name = std::string(c.listener) + " method " + std::to_string(static_cast<int>(c.method));
    SCOPED_TRACE(name);
    CSMTPMessage message(log);
    message.SetSender(CMailAddress("Kestrel Fax", "fax-sender@example.org"));
    message.AddRecipients("fax@kestrel.test");
    message.SetSubject(name);
    message.AddTextBody("Ein Fax.\n");
    message.AddAttachments(pages[0] + ";" + pages[1]);

    CSMTPSession session(log);
    session.SetReplyTimeout(20000);
    session.SetConnectionSecurity(c.security, mta.RootCaFile());
    // "localhost" as a provider's name: verified against the certificate and sent as SNI.
    const Status connected = session.Connect("localhost", c.method, kUser, kPassword, mta.Port(c.listener));
    ASSERT_TRUE(connected) << connected.Describe();
    EXPECT_EQ(session.TlsVersion().rfind("TLSv1.", 0), 0u);
    const Status sent = session.SendMessage(message);
    ASSERT_TRUE(sent) << sent.Describe();
    EXPECT_EQ(session.LastReplyCode(), 250);
    EXPECT_TRUE(session.Disconnect());

    std::vector<std::string> files = mta.MaildirFiles(seen.size() + 1);
    std::string file;
    for (const std::string& f : files)
      if (!seen.count(f)) file = f;
    ASSERT_FALSE(file.empty());
    seen.insert(file);
    const std::string raw = ReadFileBytes(file);
    EXPECT_NE(raw.find("(using TLSv1."), std::string::npos) << "received over TLS";
    EXPECT_EQ(raw.find("(Authenticated sender: fax-user)") != std::string::npos, c.method != SmtpAuthentication::None);
    CTempDir parsed;
    test::ParsedMail mail = test::ParseWithPython(file, parsed.Path());
    EXPECT_EQ(mail.headers["Subject"], name);
    ASSERT_EQ(mail.partBytes.size(), 3u) << mail.summary;
    EXPECT_EQ(mail.partBytes[1], ReadFileBytes(pages[0]));
    EXPECT_EQ(mail.partBytes[2], ReadFileBytes(pages[1]));
  }
  const std::string line = mta.DisconnectLine("submission");
  EXPECT_NE(line.find("starttls=1"), std::string::npos) << line;
}

}  // namespace
}  // namespace kestrel
