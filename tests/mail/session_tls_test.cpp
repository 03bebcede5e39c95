// The SMTP session over TLS against aiosmtpd and a scripted TLS server of
// our own (Python's ssl module), for what Postfix will not show on demand:
// "AUTH LOGIN PLAIN" and AUTH PLAIN over both kinds of TLS, replies split
// into many TLS records, a server that drops the connection during the
// handshake or says close_notify in the middle of a reply, a trickling server
// that only the stop ends, and a CA file that cannot be used.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/event_log.h"
#include "mail/smtp_session.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CPeerProcess;
using test::CSmtpServerPeer;
using test::CTempDir;
using test::EventDescriptions;
using test::LoggedForm;

// One PKI for the whole program: making it takes longer than a test.
const std::string& Pki() {
  static CTempDir dir;
  static const bool made = (test::MakeTestPki(dir.Path()), true);
  (void)made;
  return dir.Path();
}

struct Client {
  CTempDir dir;
  CEventLog log{dir.Path()};
  CSMTPSession session{log};
  explicit Client(SmtpSecurity security) {
    session.SetHeloName("client.test");
    session.SetReplyTimeout(10000);
    session.SetConnectionSecurity(security, Pki() + "root.pem");
  }
  std::vector<std::string> Events() const { return EventDescriptions(dir.Path()); }
};

int ScriptPort(const CPeerProcess& peer) {
  const std::string& line = peer.ReadyLine();
  return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

std::vector<std::string> TlsScript(const std::string& mode, const std::string& mark = "x") {
  return {"--mode", mode, "--cert", Pki() + "good-chain.pem", "--key", Pki() + "good.key", "--mark", mark};
}

TEST(SessionTls, OldAndPlainLoginsDeliverOverStartTlsAndImplicitTls) {
  struct Case {
    const char* tls;
    SmtpSecurity security;
    const char* auth;
    SmtpAuthentication method;
  };
  const Case cases[] = {
      {"starttls", SmtpSecurity::StartTls, "login-plain", SmtpAuthentication::LoginPlain},
      {"implicit", SmtpSecurity::Tls, "login-plain", SmtpAuthentication::LoginPlain},
      {"starttls", SmtpSecurity::StartTls, "plain", SmtpAuthentication::Plain},
      {"implicit", SmtpSecurity::Tls, "plain", SmtpAuthentication::Plain},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.tls) + " " + k.auth);
    Client c(k.security);
    CTempDir out;
    CSmtpServerPeer server(out.Path(), k.auth, "fax-user", "pa ss w0rd",
                           {"--tls", k.tls, "--cert", Pki() + "good-chain.pem", "--key", Pki() + "good.key"});
    CSMTPMessage message(c.log);
    message.SetSender(CMailAddress("Kestrel", "fax@kestrel.test"));
    message.AddRecipients("anna@example.com");
    message.SetSubject("Fax");
    message.AddTextBody("Ein Fax.\n");
    const Status connected = c.session.Connect("localhost", k.method, "fax-user", "pa ss w0rd", server.Port());
    ASSERT_TRUE(connected) << connected.Describe();
    EXPECT_FALSE(c.session.TlsVersion().empty());
    ASSERT_TRUE(c.session.SendMessage(message));
    EXPECT_TRUE(c.session.Disconnect());
    EXPECT_NE(server.Content(1).find("Ein Fax."), std::string::npos);
    EXPECT_TRUE(c.Events().empty());
  }
}

TEST(SessionTls, RepliesSplitIntoManyRecordsAreReadWhole) {
  Client c(SmtpSecurity::Tls);
  CPeerProcess server("tls_script_server.py", TlsScript("split"));
  const Status connected = c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", ScriptPort(server));
  ASSERT_TRUE(connected) << connected.Describe();
  EXPECT_EQ(c.session.LastReplyText(), "250 8BITMIME");
  EXPECT_TRUE(c.session.Disconnect());
  EXPECT_EQ(c.session.LastReplyText(), "221 bye");
  EXPECT_TRUE(c.Events().empty());
}

TEST(SessionTls, ServerThatDropsTheHandshakeOrClosesMidReplyEndsTheSession) {
  struct Case {
    const char* mode;
    std::string firstEvent;  // the first event text begins so
  };
  const Case cases[] = {
      {"drop", " Connect, TLS handshake with the SMTP server 127.0.0.1 failed: unexpected eof while reading"},
      // close_notify before the greeting ended: like a dropped connection.
      {"close", " Connect, An unexpected SMTP login response was received"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.mode);
    Client c(SmtpSecurity::Tls);
    CPeerProcess server("tls_script_server.py", TlsScript(k.mode));
    EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::Login, "u", "p", ScriptPort(server)));
    EXPECT_FALSE(c.session.IsConnected());
    const auto events = c.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], LoggedForm(k.firstEvent));
  }
}

TEST(SessionTls, StopEndsTheWaitForATricklingServer) {
  Client c(SmtpSecurity::Tls);
  c.session.SetReplyTimeout(600000);  // only the stop can end this wait
  std::atomic<bool> stop{false};
  c.session.SetStopFlag(&stop);
  CTempDir marks;
  const std::string mark = marks.File("trickling");
  CPeerProcess server("tls_script_server.py", TlsScript("trickle", mark));
  std::thread stopper([&] {
    while (!test::FileExists(mark)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
  });
  EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", ScriptPort(server)));
  stopper.join();
  EXPECT_FALSE(c.session.IsConnected());
  for (const std::string& e : c.Events())
    EXPECT_EQ(e.find("Timed_Out"), std::string::npos) << "stopped, not timed out: " << e;
}

TEST(SessionTls, CaFileThatCannotBeUsedIsASessionErrorNamingTheFile) {
  CTempDir dir;
  test::WriteFileBytes(dir.File("garbage.pem"), "not a certificate\n");
  struct Case {
    std::string file;
    std::string reason;
  };
  const Case cases[] = {
      {dir.File("missing.pem"), "No such file or directory"},
      {dir.File("garbage.pem"), "no certificate or crl found"},
  };
  for (const Case& k : cases) {
    Client c(SmtpSecurity::StartTls);
    c.session.SetConnectionSecurity(SmtpSecurity::StartTls, k.file);
    // Refused before any connection: the port is never reached.
    EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", 1));
    const std::string text = "Could not read the CA certificate file " + k.file + ": " + k.reason;
    EXPECT_EQ(c.Events(), std::vector<std::string>{LoggedForm(" Connect, " + text)});
    EXPECT_EQ(c.session.LastReplyText(), text);
  }
}

}  // namespace
}  // namespace kestrel
