// The SMTP session against a scripted server: what a real server will not do
// on demand (split replies, silence, trickling or slow replies, a dropped
// connection, odd prompts, odd greetings, control characters, an owner that
// stops), with the exact bytes the client sent and the texts it logged.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "core/event_log.h"
#include "mail/base64_codec.h"
#include "mail/mail_error.h"
#include "mail/smtp_session.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CScriptPeer;
using test::CScriptServer;
using test::CTempDir;
using test::EventDescriptions;
using test::LoggedForm;

struct Client {
  CTempDir dir;
  CEventLog log{dir.Path()};
  CSMTPSession session{log};
  Client() {
    session.SetHeloName("client.test");
    session.SetReplyTimeout(3000);
  }
  std::vector<std::string> Events() const { return EventDescriptions(dir.Path()); }
  bool Logged(const std::string& text) const {
    auto events = Events();
    return std::find(events.begin(), events.end(), LoggedForm(text)) != events.end();
  }
};

CSMTPMessage SimpleMessage(IEventLog& log, const std::string& recipients) {
  CSMTPMessage message(log);
  message.SetSender(CMailAddress("Kestrel", "fax@kestrel.test"));
  message.SetSubject("Fax");
  message.AddRecipients(recipients);
  message.AddTextBody("hello");
  return message;
}

// A conversation in which the server answers each client line with the next
// reply of `replies` (the first is the greeting) and then serves QUIT.
std::function<void(CScriptPeer&)> Replies(std::vector<std::string> replies) {
  return [replies = std::move(replies)](CScriptPeer& peer) {
    for (size_t i = 0; i < replies.size(); ++i) {
      if (i > 0 && peer.ReadLine().empty()) return;
      peer.Send(replies[i] + "\r\n");
    }
    test::ServeQuit(peer);
  };
}

TEST(SessionScript, GreetingWith554FailsSendsQuitAndCloses) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    peer.Send("554 no service here\r\n");
    test::ServeQuit(peer);
  });
  EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  EXPECT_EQ(server.Received(), "QUIT\r\n");
  EXPECT_FALSE(c.session.IsConnected());
  EXPECT_EQ(c.session.LastReplyCode(), 221);
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" Connect, An unexpected SMTP login response was received")});
}

// A multi-line reply is read whole however the server's packets cut it, so the
// next reply (221 to QUIT) is not confused with its continuation lines.
TEST(SessionScript, MultiLineReplySplitAtEveryByteIsReadWhole) {
  const std::string reply = "250-kestrel.test hello\r\n250-SIZE 1000\r\n250 HELP\r\n";
  for (size_t cut = 0; cut < reply.size(); ++cut) {
    Client c;
    CScriptServer server([&](CScriptPeer& peer) {
      peer.Send("220 ready\r\n");
      peer.ReadLine();
      if (cut == 0) {
        peer.SendInPieces(reply, 1, 1);  // every byte on its own
      } else {
        peer.Send(reply.substr(0, cut));
        ::usleep(20000);
        peer.Send(reply.substr(cut));
      }
      test::ServeQuit(peer);
    });
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port())) << cut;
    EXPECT_EQ(c.session.LastReplyText(), "250 HELP");
    EXPECT_TRUE(c.session.Disconnect(true)) << cut;
    EXPECT_EQ(server.Received(), "HELO client.test\r\nQUIT\r\n");
    EXPECT_TRUE(c.Events().empty()) << cut;
  }
}

TEST(SessionScript, FinalLineOfAReplyDecidesItsCode) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    peer.Send("220 ready\r\n");
    peer.ReadLine();
    peer.Send("250-kestrel.test\r\n550 but refused after all\r\n");
    test::ServeQuit(peer);
  });
  EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" Connect, An unexpected HELO/EHLO response was received")});
}

TEST(SessionScript, ReplyLongerThan255BytesGrowsTheBuffer) {
  Client c;
  const std::string longLine = "250 " + std::string(296, 'x');
  CScriptServer server([&](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer, longLine + "\r\n");
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  EXPECT_EQ(c.session.LastReplyBufferSize(), 4352u);
  EXPECT_EQ(c.session.LastReplyText(), longLine);
  EXPECT_EQ(c.session.LastReplyCode(), 250);
  EXPECT_TRUE(c.session.Disconnect());
}

TEST(SessionScript, SilentServerTimesOutAtTheReplyDeadline) {
  Client c;
  c.session.SetReplyTimeout(300);
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);  // and then silence until QUIT
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  auto start = std::chrono::steady_clock::now();
  const Status reply = c.session.ReadReply(250);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply.Describe(), "reply: " + std::string(kReplyTimedOutText));
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" ReadResponse, Timed Out waiting for response from SMTP server")});
  EXPECT_TRUE(c.session.Disconnect());
}

// Data that trickles in does not extend a reply's deadline: otherwise a
// server sending a byte now and then holds the session for ever.
TEST(SessionScript, TrickledReplyEndsAtItsDeadline) {
  Client c;
  // "250-slow" is complete after 300 ms; the deadline leaves room for a busy machine.
  c.session.SetReplyTimeout(450);
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);
    peer.SendInPieces("250-slow but\r\n250 steady\r\n", 2, 100);  // 1.3 s in all
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  const Status reply = c.session.ReadReply(250);
  EXPECT_EQ(reply.Describe(), "reply: " + std::string(kReplyTimedOutText));
  EXPECT_EQ(c.session.LastReplyText().rfind("250-slow", 0), 0u) << c.session.LastReplyText();
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" ReadResponse, Timed Out waiting for response from SMTP server")});
  (void)c.session.Disconnect();
}

// The server may take long to accept the data; giving up on it after the
// ordinary reply timeout would queue a mail it then delivers, sent twice.
TEST(SessionScript, ReplyToTheEndOfDataHasADeadlineOfItsOwn) {
  struct Case {
    int endOfDataTimeoutMs;
    bool sent;
  };
  for (Case k : {Case{20000, true}, Case{300, false}}) {
    Client c;
    c.session.SetReplyTimeout(300);
    c.session.SetEndOfDataTimeout(k.endOfDataTimeoutMs);
    CScriptServer server([](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer);
      for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
        peer.ReadLine();
        peer.Send(reply);
      }
      peer.ReadUntil("\r\n.\r\n");
      ::usleep(1000 * 1000);  // checking the mail takes longer than the reply timeout
      peer.Send("250 queued as 1\r\n");
      test::ServeQuit(peer);
    });
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
    EXPECT_EQ(c.session.SendMessage(SimpleMessage(c.log, "anna@example.com")).Ok(), k.sent);
    std::vector<std::string> expected;
    if (!k.sent)
      expected = {LoggedForm(" ReadResponse, Timed Out waiting for response from SMTP server"),
                  LoggedForm(" SendMessage, An unexpected end of message response was received")};
    EXPECT_EQ(c.Events(), expected) << k.endOfDataTimeoutMs;
    EXPECT_EQ(c.session.Disconnect().Ok(), k.sent);
  }
}

// A session whose greeting never came does not wait a whole reply timeout
// more for the answer to its QUIT.
class CLongerAfterTimeoutSession : public CSMTPSession {
 public:
  using CSMTPSession::CSMTPSession;

 protected:
  // From the first timeout on, a reply may take a minute, as in service.
  void OnError(std::string_view text) override {
    if (text.find("Timed Out") != std::string_view::npos) SetReplyTimeout(60000);
    CSMTPSession::OnError(text);
  }
};

TEST(SessionScript, MissingGreetingClosesWithoutWaitingOutQuit) {
  CTempDir dir;
  CEventLog log(dir.Path());
  CLongerAfterTimeoutSession session(log);
  session.SetReplyTimeout(300);
  bool closed = false;
  CScriptServer server([&](CScriptPeer& peer) {
    peer.ReadLine(20000);               // QUIT, after the greeting timed out
    closed = peer.WaitForClose(20000);  // never answered
  });
  EXPECT_FALSE(session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  EXPECT_EQ(server.Received(), "QUIT\r\n");
  EXPECT_TRUE(closed);
  EXPECT_FALSE(session.IsConnected());
}

// A stopping owner waits for no server: neither for a reply nor for a server
// that does not take the data. The reply timeout is long, so only the stop
// can end these waits early, and the failure is the cancelled wait, not a timeout.
TEST(SessionScript, StopEndsTheWaitForAReplyAndForASend) {
  enum Wait { kReply, kSend };
  for (Wait wait : {kReply, kSend}) {
    Client c;
    c.session.SetReplyTimeout(20000);
    std::atomic<bool> stop{false}, clientReturned{false};
    c.session.SetStopFlag(&stop);
    const std::string queued = c.dir.File("big.eml");
    test::WriteFileBytes(queued, "To: anna@example.com\r\n\r\n" + std::string(8 << 20, 'q'));
    CScriptServer server([&](CScriptPeer& peer) {
      peer.Send("220 ready\r\n");
      peer.ReadLine();  // HELO
      if (wait == kSend) {
        for (const char* reply : {"250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
          peer.Send(reply);
          if (std::string_view(reply) != "354 go\r\n") peer.ReadLine();
        }
        ::usleep(300 * 1000);  // no reading: the client's buffers fill up
      }
      stop = true;
      for (int i = 0; i < 3000 && !clientReturned; ++i) ::usleep(10000);
      peer.WaitForClose(5000);
    });
    Status result = c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port());
    if (result && wait == kSend) result = c.session.SendMessage(queued, CMailAddress("", "fax@kestrel.test"), 4096);
    clientReturned = true;
    EXPECT_FALSE(result);
    EXPECT_NE(result.Describe().find(SystemErrorText(ECANCELED)), std::string::npos) << wait << result.Describe();
    std::string expected = wait == kReply ? " Connect, An unexpected HELO/EHLO response was received"
                                          : " SendMessage, Failed in call to send the message, GetLastError returns: " +
                                                SystemErrorText(ECANCELED);
    EXPECT_EQ(c.Events(), std::vector<std::string>{LoggedForm(expected)}) << wait;
    EXPECT_FALSE(c.session.IsConnected());
  }
}

// Reply texts reach event texts through the callers: every control character
// becomes a blank, whether the reply was complete or not.
TEST(SessionScript, ReplyTextsAreHandedOutAsOneLine) {
  using namespace std::string_literals;
  struct Case {
    std::string reply;
    bool complete;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"250 fine\x1b[31m red\tand\x7f done\r\n", true, "250 fine [31m red and  done"},
      {"250 one\rtwo\0three\r\n"s, true, "250 one two three"},
      {"250-first\r\n250 last\x01\r\n", true, "250 last "},
      {"421 closing\nnow", false, "421 closing now"},
  };
  for (const Case& k : cases) {
    Client c;
    CScriptServer server([&](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer);
      peer.Send(k.reply);
      if (!k.complete)
        peer.Close();
      else
        test::ServeQuit(peer);
    });
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
    EXPECT_EQ(c.session.ReadReply(250).Ok(), k.complete) << k.text;
    EXPECT_EQ(c.session.LastReplyText(), k.text);
    (void)c.session.Disconnect();
  }
}

TEST(SessionScript, DataWithoutRecipientsEndsWithTheServers503) {
  Client c;
  CScriptServer server(Replies({"220 hi", "250 ok", "250 sender ok", "503 need RCPT command"}));
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  CSMTPMessage message = SimpleMessage(c.log, "");
  const Status sent = c.session.SendMessage(message);
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.Error().step, "DATA");
  EXPECT_EQ(sent.Error().code, 503);
  EXPECT_EQ(c.session.LastReplyText(), "503 need RCPT command");
  EXPECT_TRUE(c.session.Disconnect());
  EXPECT_EQ(server.Received(), "HELO client.test\r\nMAIL FROM:<fax@kestrel.test>\r\nDATA\r\nQUIT\r\n");
  EXPECT_EQ(c.Events(), std::vector<std::string>{LoggedForm(" SendMessage, An unexpected DATA response was received")});
}

// Each recipient is asked for; with none left the message ends before DATA,
// refused for now when any refusal was for now.
TEST(SessionScript, EveryRecipientRefusedEndsTheMessageBeforeData) {
  Client c;
  CScriptServer server(
      Replies({"220 hi", "250 ok", "250 sender ok", "550 no such user", "450 mailbox busy", "221 bye"}));
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  CSMTPMessage message = SimpleMessage(c.log, "nobody@example.com;other@example.com");
  const Status sent = c.session.SendMessage(message);
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.Error().step, "RCPT TO");
  EXPECT_EQ(sent.Error().code, 450);
  EXPECT_FALSE(RefusedForGood(sent.Error()));
  EXPECT_EQ(c.session.RefusedRecipients(),
            (std::vector<RefusedRecipient>{{{"", "nobody@example.com"}, 550, "550 no such user"},
                                           {{"", "other@example.com"}, 450, "450 mailbox busy"}}));
  (void)c.session.Disconnect();
  EXPECT_EQ(server.Received(),
            "HELO client.test\r\nMAIL FROM:<fax@kestrel.test>\r\nRCPT TO:<nobody@example.com>\r\nRCPT "
            "TO:<other@example.com>\r\nQUIT\r\n");
  EXPECT_EQ(c.Events(),
            (std::vector<std::string>{
                LoggedForm(" SendRCPTForRecipient, Recipients refused by the server: nobody@example.com (550 no such "
                           "user); other@example.com (450 mailbox busy)"),
                LoggedForm(" SendRCPTForRecipient, An unexpected RCPT response was received")}));
}

TEST(SessionScript, ConnectionClosedDuringDataFailsAndDropsTheSession) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);
    peer.ReadLine();
    peer.Send("250 ok\r\n");
    peer.ReadLine();
    peer.Send("250 ok\r\n");
    peer.ReadLine();
    peer.Send("354 go ahead\r\n");
    peer.ReadUntil("\r\n\r\n");  // the header block, then hang up
    peer.Close();
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  CSMTPMessage message = SimpleMessage(c.log, "anna@example.com");
  std::string big(4 << 20, 'p');
  test::WriteFileBytes(c.dir.File("page.bin"), big);
  ASSERT_EQ(message.AddAttachments(c.dir.File("page.bin")), 1);
  EXPECT_FALSE(c.session.SendMessage(message));
  EXPECT_FALSE(c.session.IsConnected());
  auto events = c.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].rfind(LoggedForm(" SendBodyPart, Failed in call to send body parts "), 0) == 0 ||
              events[0].rfind(LoggedForm(" SendMessage, "), 0) == 0)
      << events[0];
}

TEST(SessionScript, AuthLoginPlainSendsCredentialsInClearTextToClearTextPrompts) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer, "250-kestrel.test\r\n250 AUTH LOGIN\r\n");
    peer.ReadLine();
    peer.Send("334 Username:\r\n");
    peer.ReadLine();
    peer.Send("334 Password:\r\n");
    peer.ReadLine();
    peer.Send("235 welcome\r\n");
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::LoginPlain, "fax", "s3cret", server.Port()));
  EXPECT_TRUE(c.session.Disconnect());
  EXPECT_EQ(server.Received(), "EHLO client.test\r\nAUTH LOGIN PLAIN\r\nfax\r\ns3cret\r\nQUIT\r\n");
  EXPECT_TRUE(c.Events().empty());
}

TEST(SessionScript, AuthLoginPlainWithBase64PromptsFailsWithoutSendingThePassword) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer, "250-kestrel.test\r\n250 AUTH LOGIN\r\n");
    peer.ReadLine();
    peer.Send("334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n");
    test::ServeQuit(peer);
  });
  EXPECT_FALSE(c.session.Connect("127.0.0.1", SmtpAuthentication::LoginPlain, "fax", "s3cret", server.Port()));
  EXPECT_EQ(server.Received(), "EHLO client.test\r\nAUTH LOGIN PLAIN\r\nQUIT\r\n");
  EXPECT_EQ(c.Events(),
            (std::vector<std::string>{LoggedForm(" AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful"),
                                      LoggedForm(" Connect, An unexpected HELO/EHLO response was received")}));
}

TEST(SessionScript, CramLoginAnswersTheChallengeWithUserAndDigest) {
  Client c;
  const std::string challenge = "<1896.697170952@postoffice.reston.mci.net>";
  CScriptServer server([&](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer, "250-kestrel.test\r\n250 AUTH CRAM-MD5\r\n");
    peer.ReadLine();
    peer.Send("334 " + CBase64Codec::Encode(challenge) + "\r\n");
    peer.ReadLine();
    peer.Send("235 ok\r\n");
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::CramMd5, "tim", "tanstaaftanstaaf", server.Port()));
  (void)c.session.Disconnect();
  EXPECT_EQ(server.Received(), "EHLO client.test\r\nAUTH CRAM-MD5\r\n" +
                                   CBase64Codec::Encode("tim b913a602c7eda7a495b4e6e7334d3890") + "\r\nQUIT\r\n");
}

TEST(SessionScript, AuthPlainSendsOneLineOrAnswersTheEmptyChallenge) {
  const std::string longPassword(400, 'p');
  const std::string shortForm = CBase64Codec::Encode(std::string("\0fax\0s3cret", 11));
  const std::string longForm = CBase64Codec::Encode(std::string("\0fax\0", 5) + longPassword);
  struct Case {
    std::string password;
    std::vector<std::string> replies;  // the server's answers to the lines after EHLO
    bool loggedIn;
    std::string sent;  // what the client sent between EHLO and QUIT
  };
  const Case cases[] = {
      {"s3cret", {"235 2.7.0 ok"}, true, "AUTH PLAIN " + shortForm + "\r\n"},
      {"s3cret", {"334 ", "235 2.7.0 ok"}, true, "AUTH PLAIN " + shortForm + "\r\n" + shortForm + "\r\n"},
      // Too long for one command line: the bare command, then the answer.
      {longPassword, {"334 ", "235 2.7.0 ok"}, true, "AUTH PLAIN\r\n" + longForm + "\r\n"},
      {"s3cret", {"535 5.7.8 no"}, false, "AUTH PLAIN " + shortForm + "\r\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sent);
    Client c;
    CScriptServer server([&](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer, "250-kestrel.test\r\n250 AUTH PLAIN\r\n");
      for (const std::string& reply : k.replies) {
        peer.ReadLine();
        peer.Send(reply + "\r\n");
      }
      test::ServeQuit(peer);
    });
    EXPECT_EQ(c.session.Connect("127.0.0.1", SmtpAuthentication::Plain, "fax", k.password, server.Port()).Ok(),
              k.loggedIn);
    if (k.loggedIn) {
      EXPECT_TRUE(c.session.Disconnect());
    }
    EXPECT_EQ(server.Received(), "EHLO client.test\r\n" + k.sent + "QUIT\r\n");
    const std::vector<std::string> refused = {LoggedForm(" AuthPlain, AUTH PLAIN authentication was unsuccessful"),
                                              LoggedForm(" Connect, An unexpected HELO/EHLO response was received")};
    EXPECT_EQ(c.Events(), k.loggedIn ? std::vector<std::string>{} : refused);
  }
}

TEST(SessionScript, UnknownMethodFailsAfterEhlo) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);
    test::ServeQuit(peer);
  });
  EXPECT_FALSE(c.session.Connect("127.0.0.1", static_cast<SmtpAuthentication>(7), "u", "p", server.Port()));
  EXPECT_EQ(server.Received(), "EHLO client.test\r\nQUIT\r\n");
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" Connect, An unexpected HELO/EHLO response was received")});
}

// A security value the session does not know is refused before anything
// goes out: no EHLO, no login, nothing of the mail in clear. The peer's first
// connection is the plain session that follows: the refused one never connected.
TEST(SessionScript, UnknownSecurityIsRefusedBeforeAnythingIsSent) {
  for (int security : {3, -1}) {
    SCOPED_TRACE(security);
    Client c;
    CScriptServer server([](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer);
      test::ServeQuit(peer);
    });
    c.session.SetConnectionSecurity(static_cast<SmtpSecurity>(security));
    const Status refused = c.session.Connect("127.0.0.1", SmtpAuthentication::Login, "fax", "s3cret", server.Port());
    EXPECT_EQ(refused.Describe(), "SmtpSecurity: SMTPSecurity " + std::to_string(security) + " is not 0, 1 or 2");
    EXPECT_FALSE(c.session.SendMessage(SimpleMessage(c.log, "anna@example.com")));
    EXPECT_FALSE(c.session.IsConnected());

    c.session.SetConnectionSecurity(SmtpSecurity::None);
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
    EXPECT_TRUE(c.session.Disconnect());
    EXPECT_EQ(server.Received(), "HELO client.test\r\nQUIT\r\n");
  }
}

TEST(SessionScript, ConnectFailuresNameHostPortAndLocalAddress) {
  Client c;
  const Status unknownHost = c.session.Connect("no-such-host.invalid", SmtpAuthentication::None, "", "", 2525);
  ASSERT_FALSE(unknownHost);
  EXPECT_EQ(unknownHost.Error().step, "connect");
  const Status unknownLocal =
      c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", 2525, "no-such-host.invalid");
  ASSERT_FALSE(unknownLocal);
  EXPECT_EQ(unknownLocal.Error().step, "connect");
  auto events = c.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind(LoggedForm(" Connect, Could not connect to the SMTP server no-such-host.invalid on port "
                                       "2525, GetLastError returns: "),
                            0),
            0u)
      << events[0];
  EXPECT_EQ(events[1].rfind(LoggedForm(" Connect, Could not connect to the SMTP server 127.0.0.1 on port 2525 from "
                                       "LocalAddress:no-such-host.invalid, GetLastError returns: "),
                            0),
            0u)
      << events[1];
  EXPECT_FALSE(c.session.IsConnected());
}

TEST(SessionScript, ConnectFromALocalAddressAndDisconnectTwice) {
  Client c;
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);
    test::ServeQuit(peer);
  });
  ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port(), "127.0.0.1"));
  EXPECT_TRUE(c.session.Disconnect());
  EXPECT_FALSE(c.session.Disconnect());
  EXPECT_EQ(c.Events(),
            std::vector<std::string>{LoggedForm(" Disconnect, Already disconnected from SMTP server, doing nothing")});
}

struct LoginCase {
  SmtpAuthentication method;
  std::vector<std::string> replies;
  std::string firstText;
};

TEST(SessionScript, EveryRefusedStepOfTheOpeningLogsItsText) {
  const std::string user = "VXNlcm5hbWU6";  // "Username:"
  const std::string connectText = " Connect, An unexpected HELO/EHLO response was received";
  std::vector<LoginCase> cases = {
      {SmtpAuthentication::None, {"220 hi", "501 bad HELO"}, connectText},
      {SmtpAuthentication::Login,
       {"220 hi", "500 what"},
       " ConnectESMTP, An unexpected response was received occurred while sending the EHLO command"},
      {SmtpAuthentication::Login, {"220 hi", "250 ok", "504 no"}, " AuthLogin, Server does not support AUTH LOGIN"},
      {SmtpAuthentication::Login,
       {"220 hi", "250 ok", "334 " + user, "535 no"},
       " AuthLogin, Server did not respond correctly to AUTH LOGIN username field"},
      {SmtpAuthentication::Login,
       {"220 hi", "250 ok", "334 " + user, "334 " + CBase64Codec::Encode("Passwort:")},
       " AuthLogin, An unexpected request received when expecting password request"},
      {SmtpAuthentication::LoginPlain,
       {"220 hi", "250 ok", "504 no"},
       " AuthLoginPlain, Server does not support AUTH LOGIN PLAIN"},
      {SmtpAuthentication::LoginPlain,
       {"220 hi", "250 ok", "334 Username:", "535 no"},
       " AuthLoginPlain, Server did not response correctly to AUTH LOGIN PLAIN username field"},
      {SmtpAuthentication::LoginPlain,
       {"220 hi", "250 ok", "334 Username:", "334 Password:", "535 no"},
       " AuthLoginPlain, AUTH LOGIN PLAIN authentication was unsuccessful"},
      {SmtpAuthentication::CramMd5,
       {"220 hi", "250 ok", "504 no"},
       " CramLogin, Server does not support AUTH CRAM-MD5"},
  };
  for (const LoginCase& lc : cases) {
    Client c;
    CScriptServer server(Replies(lc.replies));
    EXPECT_FALSE(c.session.Connect("127.0.0.1", lc.method, "fax", "pw", server.Port())) << lc.firstText;
    server.Join();
    EXPECT_FALSE(c.session.IsConnected());
    std::vector<std::string> expected = {LoggedForm(lc.firstText)};
    if (lc.firstText != connectText) expected.push_back(LoggedForm(connectText));
    EXPECT_EQ(c.Events(), expected);
  }
}

TEST(SessionScript, RefusedMailEndOfMessageAndQuitLogTheirTexts) {
  {
    Client c;
    CScriptServer server(Replies({"220 hi", "250 ok", "550 sender refused"}));
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
    const Status sent = c.session.SendMessage(SimpleMessage(c.log, "anna@example.com"));
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.Error().step, "MAIL FROM");
    EXPECT_EQ(sent.Error().code, 550);
    (void)c.session.Disconnect();
    EXPECT_EQ(c.Events(),
              std::vector<std::string>{LoggedForm(" SendMessage, An unexpected MAIL response was received")});
  }
  {
    Client c;
    CScriptServer server([](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer);
      for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
        peer.ReadLine();
        peer.Send(reply);
      }
      peer.ReadUntil("\r\n.\r\n");
      peer.Send("554 looks like spam\r\n");
      peer.ReadLine();
      peer.Send("500 no QUIT for you\r\n");
    });
    ASSERT_TRUE(c.session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
    EXPECT_FALSE(c.session.SendMessage(SimpleMessage(c.log, "anna@example.com")));
    EXPECT_EQ(c.session.LastReplyText(), "554 looks like spam");
    const Status quit = c.session.Disconnect();
    ASSERT_FALSE(quit);
    EXPECT_EQ(quit.Error().step, "QUIT");
    EXPECT_EQ(quit.Error().code, 500);
    EXPECT_FALSE(c.session.IsConnected());
    EXPECT_EQ(c.Events(),
              (std::vector<std::string>{LoggedForm(" SendMessage, An unexpected end of message response was received"),
                                        LoggedForm(" Disconnect, An unexpected QUIT response was received")}));
  }
}

// Stops a queue-file transfer after its first block.
class CStoppingSession : public CSMTPSession {
 public:
  using CSMTPSession::CSMTPSession;
  std::vector<uint64_t> progress;

 protected:
  bool OnSendProgress(uint64_t sent, uint64_t total) override {
    progress.push_back(sent);
    progress.push_back(total);
    return false;
  }
};

TEST(SessionScript, QueueFileTransferStopsWhenProgressSaysSo) {
  CTempDir dir;
  CEventLog log(dir.Path());
  std::string file = "To: anna@example.com\r\n\r\n" + std::string(10000, 'q');
  test::WriteFileBytes(dir.File("q.eml"), file);
  CScriptServer server([](CScriptPeer& peer) {
    test::ServeGreetingAndHello(peer);
    for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
      peer.ReadLine();
      peer.Send(reply);
    }
    peer.ReadUntil("\r\n.\r\n", 1000);
  });
  CStoppingSession session(log);
  session.SetHeloName("client.test");
  ASSERT_TRUE(session.Connect("127.0.0.1", SmtpAuthentication::None, "", "", server.Port()));
  EXPECT_FALSE(session.SendMessage(dir.File("q.eml"), CMailAddress("", "fax@kestrel.test"), 4096));
  EXPECT_EQ(session.progress, (std::vector<uint64_t>{4096, file.size()}));
  // Nothing of the file went out, and the half-begun message was dropped with
  // the connection rather than ended with ".".
  EXPECT_FALSE(session.IsConnected());
  EXPECT_EQ(server.Received(),
            "HELO client.test\r\nMAIL FROM:<fax@kestrel.test>\r\nRCPT TO:<anna@example.com>\r\nDATA\r\n");
}

}  // namespace
}  // namespace kestrel
