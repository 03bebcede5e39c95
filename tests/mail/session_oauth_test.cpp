// The OAuth 2.0 login against a scripted server: XOAUTH2 and OAUTHBEARER as
// their bytes, a refused token answered as RFC 7628 asks, renewed once and
// tried once more, and the refusals before anything connects.
#include <gtest/gtest.h>

#include "core/event_log.h"
#include "mail/base64_codec.h"
#include "mail/smtp_session.h"
#include "oauth/access_token_source.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using test::CScriptPeer;
using test::CScriptServer;
using test::LoggedForm;

// Hands out "token-1", and "token-2", "token-3" ... for each renewal.
class CNumberedTokens final : public IAccessTokenSource {
 public:
  Result<std::string> AccessToken(bool renew) override {
    renewals += renew;
    return "token-" + std::to_string(renewals + 1);
  }
  int renewals = 0;
};

struct Client {
  test::CTempDir dir;
  CEventLog log{dir.Path()};
  CNumberedTokens tokens;
  CSMTPSession session{log};
  Client() {
    session.SetHeloName("client.test");
    session.SetReplyTimeout(3000);
    session.SetAccessTokens(&tokens);
  }
};

std::string XOAuth2(const std::string& token) {
  return CBase64Codec::Encode(
      "user=fax@kestrel.test\x01"
      "auth=Bearer " +
      token + "\x01\x01");
}
std::string OAuthBearer(const std::string& token) {
  return CBase64Codec::Encode(
      "n,a=fax@kestrel.test,\x01"
      "auth=Bearer " +
      token + "\x01\x01");
}

TEST(SessionOAuth, RefusedTokenIsAnsweredRenewedOnceAndTriedOnceMore) {
  const std::string error = "334 " + CBase64Codec::Encode(R"({"status":"401","schemes":"bearer"})");
  struct Case {
    const char* offered;
    std::vector<std::string> replies;  // to the lines after EHLO
    bool loggedIn;
    std::string sent;  // between EHLO and QUIT
  };
  const Case cases[] = {
      {"AUTH PLAIN XOAUTH2 OAUTHBEARER", {"235 2.7.0 ok"}, true, "AUTH XOAUTH2 " + XOAuth2("token-1") + "\r\n"},
      {"AUTH OAUTHBEARER", {"235 2.7.0 ok"}, true, "AUTH OAUTHBEARER " + OAuthBearer("token-1") + "\r\n"},
      {"AUTH XOAUTH2",
       {error, "535 5.7.8 expired", "235 2.7.0 ok"},
       true,
       "AUTH XOAUTH2 " + XOAuth2("token-1") + "\r\n\r\nAUTH XOAUTH2 " + XOAuth2("token-2") + "\r\n"},
      {"AUTH OAUTHBEARER",
       {error, "535 5.7.8 expired", "235 2.7.0 ok"},
       true,
       "AUTH OAUTHBEARER " + OAuthBearer("token-1") + "\r\nAQ==\r\nAUTH OAUTHBEARER " + OAuthBearer("token-2") +
           "\r\n"},
      {"AUTH XOAUTH2",
       {error, "535 5.7.8 no", error, "535 5.7.8 no"},
       false,
       "AUTH XOAUTH2 " + XOAuth2("token-1") + "\r\n\r\nAUTH XOAUTH2 " + XOAuth2("token-2") + "\r\n\r\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.sent);
    Client c;
    CScriptServer server([&](CScriptPeer& peer) {
      test::ServeGreetingAndHello(peer, "250-kestrel.test\r\n250 " + std::string(k.offered) + "\r\n");
      for (const std::string& reply : k.replies) {
        peer.ReadLine();
        peer.Send(reply + "\r\n");
      }
      test::ServeQuit(peer);
    });
    EXPECT_EQ(c.session.Connect("127.0.0.1", SmtpAuthentication::OAuth, "fax@kestrel.test", "", server.Port()).Ok(),
              k.loggedIn);
    if (k.loggedIn) {
      EXPECT_TRUE(c.session.Disconnect());
    }
    EXPECT_EQ(server.Received(), "EHLO client.test\r\n" + k.sent + "QUIT\r\n");
    EXPECT_LE(c.tokens.renewals, 1);
    const std::vector<std::string> refused = {LoggedForm(" OAuthLogin, AUTH XOAUTH2 authentication was unsuccessful"),
                                              LoggedForm(" Connect, An unexpected HELO/EHLO response was received")};
    EXPECT_EQ(test::EventDescriptions(c.dir.Path()), k.loggedIn ? std::vector<std::string>{} : refused);
  }
}

TEST(SessionOAuth, RefusedWithoutTlsAwayFromLoopbackAndWithoutAUserBeforeConnecting) {
  const struct {
    const char* host;
    SmtpSecurity security;
    const char* user;
    const char* says;
  } cases[] = {
      {"mail.example.invalid", SmtpSecurity::None, "fax@kestrel.test", "OAuth 2.0 is refused without TLS to"},
      {"127.0.0.1", SmtpSecurity::None, "", "OAuth 2.0 needs the user name (SMTP_User)"},
      {"mail.example.invalid", SmtpSecurity::StartTls, "", "OAuth 2.0 needs the user name (SMTP_User)"},
  };
  for (const auto& k : cases) {
    Client c;
    c.session.SetConnectionSecurity(k.security);
    Status connected = c.session.Connect(k.host, SmtpAuthentication::OAuth, k.user, "", 9);
    ASSERT_FALSE(connected) << k.says;
    EXPECT_EQ(connected.Error().step, "AuthenticationMethod");
    EXPECT_EQ(connected.Error().text.rfind(k.says, 0), 0u) << connected.Error().text;
    EXPECT_EQ(c.tokens.renewals, 0);
  }
}

}  // namespace
}  // namespace kestrel
