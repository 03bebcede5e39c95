// Faxes whose mail a real server's TLS refuses, against Postfix with Dovecot
// SASL: an untrusted CA, an expired certificate, a host-name mismatch and a
// server without STARTTLS each end the session before any login or mail (the
// server's own log counts the commands it got), the forwarding step names the
// reason and queues the mail, and the queue monitor delivers every queued
// mail once the CA file is set.
#include <gtest/gtest.h>

#include <unistd.h>

#include <dirent.h>
#include <sys/stat.h>

#include <ctime>

#include "forward/mail_queue_monitor.h"
#include "mail/smtp_session.h"
#include "tests/capi/line_sim.h"
#include "tests/forward/forwarding_bench.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel::test {
namespace {

constexpr char kUser[] = "fax-user";
constexpr char kPassword[] = "Fax pass 1";

size_t QueuedFiles(const std::string& app) {
  size_t n = 0;
  if (DIR* d = ::opendir((app + "MailQueue").c_str())) {
    while (dirent* e = ::readdir(d))
      n += std::string(e->d_name).size() > 4 &&
           std::string(e->d_name).substr(std::string(e->d_name).size() - 4) == ".eml";
    ::closedir(d);
  }
  return n;
}

TEST(TlsRefusal, RefusedConnectionsQueueTheMailWhichTheMonitorDeliversOnceTheCaFileIsSet) {
  if (::geteuid() != 0) GTEST_SKIP() << "Postfix and Dovecot start as root (as in CI)";
  CTempDir app, mtaDir;
  CPostfixPeer mta(mtaDir.Path(), kUser, kPassword);
  CForwardingBench bench(app);

  ServiceSettings settings;
  settings.ImageFormat = ImageFormat::Png;
  settings.Name = "Kestrel Fax";
  settings.Address = "fax-sender@example.org";
  settings.SMTPServer = "localhost";
  settings.AuthenticationMethod = SmtpAuthentication::Login;
  settings.SMTP_User = kUser;
  settings.SMTP_Pass = kPassword;
  settings.SMTPSecurity = SmtpSecurity::StartTls;

  struct Case {
    const char* listener;
    bool trustTheCa;
    const char* reason;
  };
  const Case cases[] = {
      {"submission", false, "unable to get local issuer certificate"},
      {"expired", true, "certificate has expired"},
      {"wrongname", true, "hostname mismatch"},
      {"plain", true, "The SMTP server does not offer STARTTLS"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listener);
    settings.SMTPPort = mta.Port(c.listener);
    settings.SMTPCAFile = c.trustTheCa ? mta.RootCaFile() : "";
    std::optional<FaxEntry> entry = bench.Record("030" + std::to_string(++n), "fax@kestrel.test");
    ASSERT_TRUE(entry.has_value());

    EXPECT_EQ(bench.pipeline.Forward(*entry, bench.inbox, settings, app.Path()), ForwardingOutcome::Done);
    EXPECT_EQ(QueuedFiles(app.Path()), size_t(n));
    const std::vector<std::string> events = EventDescriptions(app.Path());
    EXPECT_NE(std::find(events.begin(), events.end(),
                        LoggedForm("Failed to connect to SMTP server: localhost error :" + std::string(c.reason))),
              events.end());
    const std::string line = mta.DisconnectLine(c.listener);
    ASSERT_FALSE(line.empty()) << mta.Log();
    EXPECT_EQ(line.find("auth="), std::string::npos) << line;
    EXPECT_EQ(line.find("mail="), std::string::npos) << line;
  }
  EXPECT_TRUE(mta.MaildirFiles(0).empty()) << "nothing of the mail went out";

  CMailQueueMonitor monitor(bench.log);
  ServiceSettings q;
  q.Name = settings.Name;
  q.Address = settings.Address;
  q.SMTPServer = "localhost";
  q.AuthenticationMethod = SmtpAuthentication::Login;
  q.SMTP_User = kUser;
  q.SMTP_Pass = kPassword;
  q.SMTPPort = mta.Port("submission");
  q.SMTPSecurity = SmtpSecurity::StartTls;
  q.SMTPCAFile = mta.RootCaFile();
  monitor.SetSettings(q, app.Path());
  monitor.SetPause(std::chrono::hours(1));
  monitor.StartMailQueueMonitor(true);
  EXPECT_TRUE(Eventually([&] { return QueuedFiles(app.Path()) == 0; }, 60s));
  monitor.StartMailQueueMonitor(false);
  EXPECT_EQ(mta.MaildirFiles(4).size(), 4u);
  EXPECT_NE(mta.DisconnectLine("submission").find("auth=1"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::test
