// kestreld signing in to its mail server with OAuth 2.0, against Postfix with
// Dovecot's oauth2 passdb and the tests' own identity provider: a revoked
// sign-in queues the fax with one event naming the cause and makes
// kestrel-admin status fail; kestrel-admin mail login (the device grant, the
// IdP approving) tells the running service, which sends the queue at once;
// no token reaches the log or a command line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include "tests/apps/kestreld_process.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/oauth/idp_peer.h"

namespace kestrel::test {
namespace {

constexpr char kUser[] = "fax@kestrel.test";

TEST_F(Kestreld, RevokedSignInQueuesTheFaxUntilMailLoginAndTheServiceThenSendsItAtOnce) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir mtaDir;
  CIdpPeer idp;
  ASSERT_NE(idp.Port(), 0) << "the IdP did not start";
  CPostfixPeer mta(mtaDir.Path(), "other@kestrel.test", "unused", idp.Url("/introspect"));
  ServiceSettings s = BaseSettings(mta.Port("submission"));
  s.EmailAll = kUser;
  s.SMTPServer = "localhost";
  s.SMTPSecurity = SmtpSecurity::StartTls;
  s.SMTPCAFile = mta.RootCaFile();
  s.AuthenticationMethod = SmtpAuthentication::OAuth;
  s.SMTP_User = kUser;
  idp.UseDeviceGrant(s);
  WriteSettings(s);
  idp.SignIn(s, app_.Path());
  idp.Control({{"revoke", "1"}});

  StartSim();
  Start();
  ASSERT_TRUE(sim_->WaitFor("LISTEN_REQ"));
  Call("fax", "0301234567", MakeFax(1), 1);
  ASSERT_TRUE(Eventually([&] { return QueueFiles().size() == 1; }, 30s));
  const auto events = Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.find("invalid_grant") != std::string::npos; }),
            1);
  const auto [revoked, revokedOut] = RunProgram(KESTREL_ADMIN, {"status"});
  EXPECT_NE(revoked, 0);
  EXPECT_NE(revokedOut.find("\nOAuth: the access token could not be renewed: token endpoint: invalid_grant"),
            std::string::npos)
      << revokedOut;

  idp.Set("pending_polls", "0");
  const auto [login, loginOut] = RunProgram(KESTREL_ADMIN, {"mail", "login"});
  ASSERT_EQ(login, 0) << loginOut;
  EXPECT_NE(loginOut.find("sends the queue now"), std::string::npos) << loginOut;
  // The queue monitor's own pause is three minutes: only the signal sends it within one.
  EXPECT_EQ(mta.MaildirFiles(1).size(), 1u);
  EXPECT_TRUE(Eventually([&] { return QueueFiles().empty(); }, 60s));
  const auto [held, heldOut] = RunProgram(KESTREL_ADMIN, {"status"});
  EXPECT_NE(heldOut.find("\nOAuth: token held, expires "), std::string::npos) << heldOut;
  EXPECT_EQ(held, 0) << heldOut;

  const std::string seen = ReadFileBytes(app_.File("kestrel.log")) +
                           ReadFileBytes("/proc/" + std::to_string(pid_) + "/cmdline") + revokedOut + loginOut +
                           heldOut;
  const nlohmann::json issued = idp.Control()["issued"];
  ASSERT_FALSE(issued.empty());
  for (const auto& token : issued) EXPECT_EQ(seen.find(token.get<std::string>()), std::string::npos);
  ::kill(pid_, SIGTERM);
  EXPECT_EQ(Wait(), 0);
}

}  // namespace
}  // namespace kestrel::test
