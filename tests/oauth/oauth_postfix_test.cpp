// The OAuth 2.0 login against Debian's Postfix with Dovecot's oauth2 passdb,
// which checks each token at the tests' own identity provider's
// introspection endpoint: XOAUTH2 over STARTTLS and over implicit TLS,
// OAUTHBEARER where only it is offered, a token expired early renewed before
// the mail, and a token the server refuses renewed once after its 535.
#include <gtest/gtest.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "core/event_log.h"
#include "mail/smtp_session.h"
#include "oauth/access_token_source.h"
#include "oauth/oauth_client.h"
#include "oauth/token_store.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/oauth/idp_peer.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

constexpr const char* kUser = "fax@kestrel.test";

class OAuthPostfixTest : public ::testing::Test {
 protected:
  OAuthPostfixTest() : log_(app_.Path()) {}
  void SetUp() override {
    ASSERT_NE(idp_.Port(), 0) << "the IdP did not start";
    postfix_ = std::make_unique<test::CPostfixPeer>(mta_.Path(), "other@kestrel.test", "unused", Url("/introspect"));
    idp_.UseDeviceGrant(settings_);
    settings_.SMTPCAFile = postfix_->RootCaFile();
    idp_.SignIn(settings_, app_.Path());
  }

  std::string Url(const std::string& path) const { return idp_.Url(path); }
  nlohmann::json Control(const FormFields& fields) const { return idp_.Control(fields); }

  // One fax mail to fax@kestrel.test through `listener`, logged in with OAuth.
  Status SendFax(const std::string& listener, SmtpSecurity security) {
    COAuthTokenSource tokens(settings_, app_.Path(), log_);
    CSMTPSession session(log_);
    session.SetConnectionSecurity(security, settings_.SMTPCAFile);
    session.SetAccessTokens(&tokens);
    Status sent = session.Connect("127.0.0.1", SmtpAuthentication::OAuth, kUser, "", postfix_->Port(listener));
    if (!sent) return sent;
    CSMTPMessage message(log_);
    message.SetSender(CMailAddress("Kestrel", "fax@kestrel.test"));
    message.AddRecipients("fax@kestrel.test");
    message.SetSubject("Fax from 0301234567");
    message.AddTextBody("A fax of one page.");
    sent = session.SendMessage(message);
    (void)session.Disconnect();
    return sent;
  }

  test::CTempDir app_;
  test::CTempDir mta_;
  test::CIdpPeer idp_;
  CEventLog log_;
  std::unique_ptr<test::CPostfixPeer> postfix_;
  ServiceSettings settings_;
};

TEST_F(OAuthPostfixTest, FaxDeliveredWithXOAuth2OverStartTlsAndImplicitTlsAndWithOAuthBearerOnly) {
  ASSERT_TRUE(SendFax("submission", SmtpSecurity::StartTls)) << postfix_->Log();
  ASSERT_TRUE(SendFax("smtps", SmtpSecurity::Tls)) << postfix_->Log();
  ASSERT_TRUE(SendFax("oauthbearer", SmtpSecurity::StartTls)) << postfix_->Log();
  EXPECT_EQ(postfix_->MaildirFiles(3).size(), 3u);
  const std::string log = postfix_->Log();
  EXPECT_NE(log.find("sasl_method=XOAUTH2, sasl_username=fax@kestrel.test"), std::string::npos) << log;
  EXPECT_NE(log.find("sasl_method=OAUTHBEARER, sasl_username=fax@kestrel.test"), std::string::npos) << log;
  EXPECT_EQ(Control({})["refreshes"], 0);
}

TEST_F(OAuthPostfixTest, TokenAboutToExpireIsRenewedBeforeTheMail) {
  OAuthTokens held = *COAuthTokenStore(app_.Path()).Load();
  held.expiresAt = std::time(nullptr) + 60;  // inside the renewal margin
  ASSERT_TRUE(COAuthTokenStore(app_.Path()).Save(held));
  ASSERT_TRUE(SendFax("submission", SmtpSecurity::StartTls)) << postfix_->Log();
  EXPECT_EQ(Control({})["refreshes"], 1);
  EXPECT_NE(COAuthTokenStore(app_.Path()).Load()->refreshToken, held.refreshToken);
}

TEST_F(OAuthPostfixTest, TokenTheServerRefusesIsRenewedOnceAndTheMailGoes) {
  Control({{"expire_access", "1"}});  // the held token looks good but is void
  ASSERT_TRUE(SendFax("submission", SmtpSecurity::StartTls)) << postfix_->Log();
  EXPECT_EQ(Control({})["refreshes"], 1);
  EXPECT_EQ(postfix_->MaildirFiles(1).size(), 1u);
}

TEST_F(OAuthPostfixTest, RevokedGrantFailsTheLoginWithOneEvent) {
  Control({{"revoke", "1"}});
  for (int mail = 0; mail < 2; ++mail) {
    Status sent = SendFax("submission", SmtpSecurity::StartTls);
    ASSERT_FALSE(sent);
    EXPECT_EQ(OAuthErrorWord(sent.Error()), "invalid_grant");
  }
  int events = 0;
  for (const std::string& line : test::EventDescriptions(app_.Path()))
    events += line.find("invalid_grant") != std::string::npos;
  EXPECT_EQ(events, 1);
  EXPECT_EQ(Control({})["refreshes"], 2);
}

}  // namespace
}  // namespace kestrel
