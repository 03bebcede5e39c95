// The Email page's "Sign in…" against the tests' own identity provider: the
// code grant's URL is fetched by a plain HTTP client in place of a browser,
// the IdP approves at once, and the page stores the tokens and shows the
// account the id_token names.
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "oauth/token_store.h"
#include "tests/desktop/desktop_home.h"
#include "tests/oauth/idp_peer.h"
#include "ui/email_page.h"

namespace kestrel {
namespace {

TEST(EmailSignIn, SignInStoresTheTokensAndShowsTheAccount) {
  test::CDesktopHome home;
  test::CIdpPeer idp;
  ASSERT_NE(idp.Port(), 0) << "the IdP did not start";
  ServiceSettings s;
  s.SMTPServer = "127.0.0.1";
  s.AuthenticationMethod = SmtpAuthentication::OAuth;
  s.SMTP_User = "fax";  // the id_token names another: fax@kestrel.test
  s.OAuthGrant = "code";
  s.OAuthClientId = "kestrel-test";
  s.OAuthScope = "openid smtp";
  s.OAuthTokenUrl = idp.Url("/token");
  s.OAuthAuthorizeUrl = idp.Url("/authorize");

  CEmailPage page;
  QNetworkAccessManager browser;
  browser.setProxy(QNetworkProxy::NoProxy);
  page.SetUrlOpener([&](const QUrl& url) { browser.get(QNetworkRequest(url)); });
  page.Load(s);
  auto* account = page.findChild<QLabel*>(QStringLiteral("oauthAccount"));
  auto* signIn = page.findChild<QPushButton*>(QStringLiteral("oauthSignIn"));
  ASSERT_TRUE(account && signIn);
  EXPECT_EQ(account->text(), QStringLiteral("Not signed in"));

  QSignalSpy signedIn(&page, &CEmailPage::SignedIn);
  QTest::mouseClick(signIn, Qt::LeftButton);
  ASSERT_TRUE(signedIn.wait(30000)) << account->text().toStdString();
  EXPECT_EQ(account->text(), QStringLiteral("Signed in as fax@kestrel.test"));
  Result<OAuthTokens> tokens = COAuthTokenStore(home.Path()).Load();
  ASSERT_TRUE(tokens) << tokens.Describe();
  EXPECT_EQ(tokens->account, "fax@kestrel.test");
  EXPECT_TRUE(tokens->refreshToken.starts_with("rt-"));
  EXPECT_EQ(idp.Control()["code_grants"], 1);
}

}  // namespace
}  // namespace kestrel
