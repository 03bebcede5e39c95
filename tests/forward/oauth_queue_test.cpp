// A fax whose OAuth 2.0 sign-in was revoked, against Postfix with Dovecot's
// oauth2 passdb and the tests' own identity provider: the forwarding step
// queues the mail, the renewal's invalid_grant is one event however many
// faxes meet it, and after a new sign-in the queue monitor delivers them all.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "forward/fax_inbox.h"
#include "forward/forwarding_pipeline.h"
#include "forward/mail_queue.h"
#include "forward/mail_queue_monitor.h"
#include "forward/recipient_resolution.h"
#include "oauth/oauth_client.h"
#include "oauth/token_store.h"
#include "tests/capi/line_sim.h"
#include "tests/convert/page_render.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/oauth/idp_peer.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {
namespace {

constexpr char kUser[] = "fax@kestrel.test";

TEST(OAuthQueue, RevokedSignInQueuesWithOneEventAndANewSignInSendsTheQueue) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir app, mtaDir;
  CIdpPeer idp;
  ASSERT_NE(idp.Port(), 0);
  CPostfixPeer mta(mtaDir.Path(), "other@kestrel.test", "unused", idp.Url("/introspect"));
  CTestDatabase db{Engine::kSQLite};
  CEventLog log{app.Path()};
  COdbcConnection lookups{db.ConnectString()};
  CRecipientResolver resolver{1, "fax@kestrel.test", lookups, log};
  CForwardingPipeline pipeline{log, resolver, db.ConnectString()};
  CFaxInbox inbox(app.Path(), log);
  ::mkdir(app.File("received").c_str(), 0700);

  ServiceSettings settings;
  settings.ImageFormat = ImageFormat::Png;
  settings.Name = "Kestrel Fax";
  settings.Address = kUser;
  settings.SMTPServer = "localhost";
  settings.SMTPPort = mta.Port("submission");
  settings.SMTPSecurity = SmtpSecurity::StartTls;
  settings.SMTPCAFile = mta.RootCaFile();
  settings.AuthenticationMethod = SmtpAuthentication::OAuth;
  settings.SMTP_User = kUser;
  settings.OAuthGrant = "device";
  settings.OAuthClientId = "kestrel-test";
  settings.OAuthScope = "smtp";
  settings.OAuthTokenUrl = idp.Url("/token");
  settings.OAuthDeviceUrl = idp.Url("/device");
  // kestrel-admin mail login, as the function it runs.
  const auto signIn = [&] {
    Result<TokenGrant> grant = COAuthClient(*ResolveOAuthConfig(settings))
                                   .DeviceSignIn([](const std::string&) {}, [](std::int64_t) { return true; });
    ASSERT_TRUE(grant) << grant.Describe();
    ASSERT_TRUE(COAuthTokenStore(app.Path())
                    .Save({.refreshToken = grant->refreshToken,
                           .accessToken = grant->accessToken,
                           .expiresAt = std::time(nullptr) + 3600,
                           .lastError = ""}));
  };
  signIn();
  idp.Control({{"revoke", "1"}});

  std::vector<tools::SffMakePage> pages(1);
  pages[0].image = RenderLetterPage(1728, 1100, 3);
  for (int n = 1; n <= 2; ++n) {
    const std::string sff = app.File("received/030" + std::to_string(n) + "_fax.sff");
    WriteFileBytes(sff, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
    FaxCallRecord call;
    call.captureFilePath = sff;
    call.callerNumber = "030" + std::to_string(n);
    call.pages = 1;
    call.startTime = call.endTime = std::time(nullptr);
    call.recipients = kUser;
    std::optional<FaxEntry> entry = inbox.Record(call);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(pipeline.Forward(*entry, inbox, settings, app.Path()), ForwardingOutcome::Done);
    EXPECT_EQ(MailQueueFileNames(MailQueueFolder(app.Path()) + "/").size(), size_t(n));
  }
  int causes = 0;
  for (const std::string& line : EventDescriptions(app.Path()))
    causes += line.find("invalid_grant") != std::string::npos;
  EXPECT_EQ(causes, 1);
  const std::vector<std::string> events = EventDescriptions(app.Path());
  EXPECT_EQ(std::count(events.begin(), events.end(),
                       LoggedForm("Failed to connect to SMTP server: localhost error :no OAuth 2.0 access token")),
            2);
  EXPECT_NE(COAuthTokenStore(app.Path()).Load()->lastError.find("invalid_grant"), std::string::npos);
  EXPECT_TRUE(mta.MaildirFiles(0).empty());

  signIn();
  CMailQueueMonitor monitor(log);
  monitor.SetSettings(settings, app.Path());
  monitor.SetPause(std::chrono::hours(1));
  monitor.StartMailQueueMonitor(true);
  EXPECT_TRUE(Eventually([&] { return MailQueueFileNames(MailQueueFolder(app.Path()) + "/").empty(); }, 60s));
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(mta.MaildirFiles(2).size(), 2u);
}

}  // namespace
}  // namespace kestrel::test
