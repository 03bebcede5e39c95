// The grants, the renewal and the token file against the tests' own identity
// provider (idp_server.py) on loopback: device sign-in with its polling,
// slow_down and refusals, client credentials, the code grant with PKCE and
// state, refresh with rotation, invalid_grant, and TLS with the tests' CA.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "core/event_log.h"
#include "oauth/access_token_source.h"
#include "oauth/http_client.h"
#include "oauth/oauth_client.h"
#include "oauth/token_store.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/oauth/idp_peer.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using nlohmann::json;

class OAuthTest : public ::testing::Test {
 protected:
  explicit OAuthTest(std::vector<std::string> args = {}) : idp_(args), log_(dir_.Path()) {}
  void SetUp() override { ASSERT_NE(idp_.Port(), 0) << "the IdP did not start"; }

  std::string Url(const std::string& path, const std::string& scheme = "http") const { return idp_.Url(path, scheme); }
  json Control(const FormFields& fields) const { return idp_.Control(fields); }
  void Set(const std::string& name, const std::string& value) const { idp_.Set(name, value); }

  ServiceSettings Settings(const std::string& grant) const {
    ServiceSettings s;
    s.OAuthProvider = OAuthProvider::Custom;
    s.OAuthGrant = grant;
    s.OAuthClientId = grant == "client" ? "kestrel-app" : "kestrel-test";
    s.OAuthClientSecret = grant == "client" ? "app-secret" : "";
    s.OAuthScope = "https://outlook.office.com/SMTP.Send offline_access";
    s.OAuthTokenUrl = Url("/token");
    s.OAuthDeviceUrl = Url("/device");
    s.OAuthAuthorizeUrl = Url("/authorize");
    return s;
  }
  COAuthClient Client(const std::string& grant) const { return COAuthClient(*ResolveOAuthConfig(Settings(grant))); }

  // A device sign-in whose waits are recorded, not slept: the IdP decides
  // by its count of polls, not by the time between them.
  Result<TokenGrant> DeviceSignIn() {
    return Client("device").DeviceSignIn([this](const std::string& line) { shown_.push_back(line); },
                                         [this](std::int64_t seconds) {
                                           waits_.push_back(seconds);
                                           return true;
                                         });
  }
  // Signs in with the device grant and stores the tokens as kestrel-admin does.
  void SignIn() {
    Result<TokenGrant> grant = DeviceSignIn();
    ASSERT_TRUE(grant) << grant.Describe();
    ASSERT_TRUE(COAuthTokenStore(dir_.Path())
                    .Save({.refreshToken = grant->refreshToken,
                           .accessToken = grant->accessToken,
                           .expiresAt = 1,
                           .lastError = "",
                           .account = ""}));
  }
  OAuthTokens Held() const { return *COAuthTokenStore(dir_.Path()).Load(); }

  test::CTempDir dir_;
  test::CIdpPeer idp_;
  CEventLog log_;
  std::vector<std::string> shown_;
  std::vector<std::int64_t> waits_;
};

TEST_F(OAuthTest, DeviceSignInShowsOneLineAndPollsUntilGranted) {
  Set("pending_polls", "2");
  Result<TokenGrant> grant = DeviceSignIn();
  ASSERT_TRUE(grant) << grant.Describe();
  EXPECT_EQ(shown_, std::vector<std::string>{"To sign in, open " + Url("/verify") + " and enter the code KEST-1"});
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 1, 1}));
  EXPECT_EQ(Control({})["device_polls"], 3);
  EXPECT_FALSE(grant->refreshToken.empty());
}

TEST_F(OAuthTest, SlowDownAddsFiveSecondsToEveryLaterPoll) {
  Set("pending_polls", "3");
  Set("slow_down_polls", "2");
  ASSERT_TRUE(DeviceSignIn());
  EXPECT_EQ(waits_, (std::vector<std::int64_t>{1, 1, 6, 6}));
  EXPECT_EQ(Control({})["device_polls"], 4);
}

TEST_F(OAuthTest, RefusedDeviceSignInsFailWithTheirReason) {
  const struct {
    const char* outcome;
    std::string devicesLife;
  } cases[] = {{"access_denied", "120"}, {"expired_token", "120"}, {"grant", "2"}};
  for (const auto& c : cases) {
    Set("outcome", c.outcome);
    Set("device_expires", c.devicesLife);
    Set("pending_polls", c.devicesLife == "2" ? "5" : "0");
    Result<TokenGrant> grant = DeviceSignIn();
    ASSERT_FALSE(grant) << c.outcome;
    EXPECT_EQ(OAuthErrorWord(grant.Error()), std::string(c.devicesLife == "2" ? "expired_token" : c.outcome));
  }
}

TEST_F(OAuthTest, ClientCredentialsFetchOneTokenAndKeepItUntilItExpires) {
  COAuthTokenSource source(Settings("client"), dir_.Path(), log_);
  Result<std::string> first = source.AccessToken(false);
  ASSERT_TRUE(first) << first.Describe();
  Result<std::string> again = source.AccessToken(false);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *first);
  EXPECT_EQ(Control({})["client_grants"], 1);
  EXPECT_EQ(Held().refreshToken, "");
  // A wrong secret is the endpoint's refusal, not a token.
  ServiceSettings wrong = Settings("client");
  wrong.OAuthClientSecret = "guess";
  EXPECT_EQ(OAuthErrorWord(COAuthTokenSource(wrong, dir_.Path(), log_).AccessToken(true).Error()), "invalid_client");
}

TEST_F(OAuthTest, RenewalStoresTheRotatedRefreshTokenAndUsesItNextTime) {
  SignIn();
  const std::string firstRefresh = Held().refreshToken;
  COAuthTokenSource source(Settings("device"), dir_.Path(), log_);
  Result<std::string> renewed = source.AccessToken(false);  // the held one expired long ago
  ASSERT_TRUE(renewed) << renewed.Describe();
  const OAuthTokens afterFirst = Held();
  EXPECT_NE(afterFirst.refreshToken, firstRefresh);
  EXPECT_EQ(afterFirst.accessToken, *renewed);
  EXPECT_GT(afterFirst.expiresAt, std::time(nullptr) + 3000);
  // The old refresh token is spent at the IdP: only the stored one can work.
  Result<std::string> forced = source.AccessToken(true);
  ASSERT_TRUE(forced) << forced.Describe();
  EXPECT_NE(*forced, *renewed);
  EXPECT_EQ(Control({})["refreshes"], 2);
}

TEST_F(OAuthTest, InvalidGrantIsOneEventAndKeptForTheStatus) {
  SignIn();
  Control({{"revoke", "1"}});
  COAuthTokenSource source(Settings("device"), dir_.Path(), log_);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Result<std::string> token = source.AccessToken(attempt > 0);
    ASSERT_FALSE(token);
    EXPECT_EQ(OAuthErrorWord(token.Error()), "invalid_grant");
  }
  int events = 0;
  for (const std::string& line : test::EventDescriptions(dir_.Path()))
    events += line.find("invalid_grant") != std::string::npos;
  EXPECT_EQ(events, 1);
  EXPECT_NE(Held().lastError.find("invalid_grant"), std::string::npos);
  EXPECT_NE(Held().lastError.find("kestrel-admin mail login"), std::string::npos);
  // A new sign-in is taken at the next call, and the error is gone.
  SignIn();
  ASSERT_TRUE(source.AccessToken(false));
  EXPECT_EQ(Held().lastError, "");
}

TEST_F(OAuthTest, TokenFileIsPrivateAndNoTokenReachesTheLog) {
  SignIn();
  COAuthTokenSource source(Settings("device"), dir_.Path(), log_);
  ASSERT_TRUE(source.AccessToken(true));
  Control({{"revoke", "1"}});
  ASSERT_FALSE(source.AccessToken(true));
  struct stat st {};
  ASSERT_EQ(::stat(COAuthTokenStore(dir_.Path()).Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600);
  const std::string logged = test::ReadFileBytes(dir_.File("kestrel.log"));
  EXPECT_NE(logged.find("invalid_grant"), std::string::npos);
  const json issued = Control({})["issued"];
  ASSERT_GE(issued.size(), 4u);
  for (const auto& token : issued) EXPECT_EQ(logged.find(token.get<std::string>()), std::string::npos);
}

// The browser of the code grant: follows the authorization URL's redirect to
// the listener, as a browser on this host or beyond an ssh -L would.
long Browse(const std::string& url) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void*) { return size * n; });
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return status;
}

TEST_F(OAuthTest, CodeGrantTakesOnlyTheRedirectWithItsState) {
  std::thread browser;
  long forged = 0, signedIn = 0;
  Result<TokenGrant> grant = Client("code").CodeSignIn([&](const std::string& line) {
    shown_.push_back(line);
    const std::string url = line.substr(line.find("http"));
    browser = std::thread([&, url] {
      const std::string redirect = url.substr(url.find("redirect_uri=") + 13);
      std::string listener = redirect.substr(0, redirect.find('&'));
      for (std::size_t at; (at = listener.find("%3A")) != std::string::npos;) listener.replace(at, 3, ":");
      for (std::size_t at; (at = listener.find("%2F")) != std::string::npos;) listener.replace(at, 3, "/");
      forged = Browse(listener + "?code=stolen&state=guessed");
      signedIn = Browse(url);
    });
  });
  browser.join();
  ASSERT_TRUE(grant) << grant.Describe();
  EXPECT_EQ(forged, 400);
  EXPECT_EQ(signedIn, 200);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_NE(shown_[0].find("code_challenge_method=S256"), std::string::npos);
  EXPECT_EQ(Control({})["code_grants"], 1);
}

// The mail tests' PKI, made once for the program.
const std::string& Pki() {
  static const test::CTempDir folder;
  static const bool made = (test::MakeTestPki(folder.Path()), true);
  (void)made;
  return folder.Path();
}

class OAuthTlsTest : public OAuthTest {
 protected:
  OAuthTlsTest() : OAuthTest({"--cert", Pki() + "good-chain.pem", "--key", Pki() + "good.key"}) {}
};

TEST_F(OAuthTlsTest, TheEndpointsCertificateIsCheckedAsTheSmtpServers) {
  ServiceSettings s = Settings("client");
  s.OAuthTokenUrl = Url("/token", "https");
  Result<std::string> untrusted = COAuthTokenSource(s, dir_.Path(), log_).AccessToken(true);
  ASSERT_FALSE(untrusted);
  EXPECT_EQ(untrusted.Error().step, "HTTP");
  s.SMTPCAFile = Pki() + "root.pem";
  Result<std::string> trusted = COAuthTokenSource(s, dir_.Path(), log_).AccessToken(true);
  EXPECT_TRUE(trusted) << trusted.Describe();
}

}  // namespace
}  // namespace kestrel
