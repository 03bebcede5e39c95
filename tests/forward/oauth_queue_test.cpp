// A fax whose OAuth 2.0 sign-in was revoked, against Postfix with Dovecot's
// oauth2 passdb and the tests' own identity provider: the forwarding step
// queues the mail, the renewal's invalid_grant is one event however many
// faxes meet it, and after a new sign-in the queue monitor delivers them all.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "forward/mail_queue.h"
#include "forward/mail_queue_monitor.h"
#include "oauth/token_store.h"
#include "tests/capi/line_sim.h"
#include "tests/forward/forwarding_bench.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/oauth/idp_peer.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {
namespace {

constexpr char kUser[] = "fax@kestrel.test";

TEST(OAuthQueue, RevokedSignInQueuesWithOneEventAndANewSignInSendsTheQueue) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir app, mtaDir;
  CIdpPeer idp;
  ASSERT_NE(idp.Port(), 0);
  CPostfixPeer mta(mtaDir.Path(), "other@kestrel.test", "unused", idp.Url("/introspect"));
  CForwardingBench bench(app);

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
  idp.UseDeviceGrant(settings);
  idp.SignIn(settings, app.Path());
  idp.Control({{"revoke", "1"}});

  for (int n = 1; n <= 2; ++n) {
    std::optional<FaxEntry> entry = bench.Record("030" + std::to_string(n), kUser);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(bench.pipeline.Forward(*entry, bench.inbox, settings, app.Path()), ForwardingOutcome::Done);
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

  idp.SignIn(settings, app.Path());
  CMailQueueMonitor monitor(bench.log);
  monitor.SetSettings(settings, app.Path());
  monitor.SetPause(std::chrono::hours(1));
  monitor.StartMailQueueMonitor(true);
  EXPECT_TRUE(Eventually([&] { return MailQueueFileNames(MailQueueFolder(app.Path()) + "/").empty(); }, 60s));
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(mta.MaildirFiles(2).size(), 2u);
}

}  // namespace
}  // namespace kestrel::test
