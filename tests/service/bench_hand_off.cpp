// Benchmark: what a slow mail server costs the line and the queue. With a
// healthy and with a silent server, the time from a second call's
// CONNECT_IND to its CONNECT_RESP while the first fax is being mailed (target
// <= 1 s with either); and the time 20 queued faxes take to drain once the
// server is back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/event_log.h"
#include "core/notice_sink.h"
#include "core/settings_file.h"
#include "forward/mail_queue.h"
#include "forward/mail_queue_monitor.h"
#include "mail/smtp_message.h"
#include "service/service_app.h"
#include "tests/capi/line_sim.h"
#include "tests/convert/page_render.h"
#include "tests/mail/mail_test_peers.h"
#include "tests/service/bench_support.h"
#include "tests/service/service_fixture.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

using namespace kestrel;
using namespace kestrel::test;
using Clock = std::chrono::steady_clock;

namespace {

// Accepts connections into its backlog and never says a word.
class CSilentListener {
 public:
  CSilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 8);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~CSilentListener() { ::close(fd_); }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Seconds from the second call's CONNECT_IND to its CONNECT_RESP; -1 when it
// was not answered within a minute.
double SecondCallAnswer(const std::string& sff, bool silentServer) {
  CTempDir app, home, mailOut;
  UseBenchFolders(app, home);
  CLineSim sim(home.Path());
  sim.UseAsCapi(home.Path());
  CSmtpServerPeer healthy(mailOut.Path(), "none");
  CSilentListener silent;

  CEventLog log(app.Path());
  ServiceSettings s = BenchSettings(app, silentServer ? silent.Port() : healthy.Port());
  if (!ExportSettings(SettingsFilePath(app.Path()), s, log)) return -1;
  CQuietNotices notices;
  CServiceApp service(log, notices, nullptr);
  if (!service.InitInstance()) return -1;
  if (!sim.WaitFor("LISTEN_REQ")) return -1;

  const std::string call = " called=1234567 sff=" + sff + " pages=3 rate=14400 id=4930999";
  sim.Command("call first caller=0301111111" + call);
  if (!sim.WaitFor("SEND DISCONNECT_IND", 1, std::chrono::seconds(60))) return -1;
  sim.Command("call second caller=0302222222" + call);
  if (!sim.WaitFor("SEND CONNECT_IND", 2, std::chrono::seconds(60))) return -1;
  const auto indicated = Clock::now();
  if (!sim.WaitFor("RECV CONNECT_RESP", 2, std::chrono::seconds(60))) return -1;
  const double seconds = std::chrono::duration<double>(Clock::now() - indicated).count();
  service.ExitInstance();
  return seconds;
}

// Seconds until `count` queued mails are accepted by a healthy server, with
// the monitor's standard pause.
double DrainTime(int count) {
  CTempDir app, mailOut;
  CEventLog log(app.Path());
  const std::string folder = MailQueueFolder(app.Path());
  ::mkdir(folder.c_str(), 0700);
  for (int n = 0; n < count; ++n) {
    CSMTPMessage message(log);
    message.SetSender(CMailAddress("Kestrel Fax", "fax@kestrel.test"));
    message.AddRecipients("office@kestrel.test");
    message.SetSubject("queued fax " + std::to_string(n));
    message.AddTextBody("queued\n");
    char name[32];
    std::snprintf(name, sizeof name, "/fax%03d.eml", n);
    message.SaveToDisk(folder + name);
  }
  CSmtpServerPeer server(mailOut.Path(), "none");
  ServiceSettings q;
  q.Name = "Kestrel Fax";
  q.Address = "fax@kestrel.test";
  q.SMTPServer = "127.0.0.1";
  q.SMTPPort = server.Port();
  CMailQueueMonitor monitor(log);
  monitor.SetSettings(q, app.Path());
  const auto start = Clock::now();
  monitor.StartMailQueueMonitor(true);
  const bool drained =
      Eventually([&] { return FilesEndingIn(mailOut.Path(), ".content").size() >= static_cast<std::size_t>(count); },
                 std::chrono::minutes(5));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  monitor.StartMailQueueMonitor(false);
  return drained ? seconds : -1;
}

}  // namespace

int main() {
  CTempDir work;
  std::vector<tools::SffMakePage> pages;
  for (int p = 0; p < 3; ++p) {
    tools::SffMakePage page;
    page.image = RenderLetterPage(1728, 2286, 21 + p);
    pages.push_back(std::move(page));
  }
  const std::string sff = work.File("three-pages.sff");
  WriteFileBytes(sff, tools::MakeSffFile(pages, tools::SffMakeOptions{}));

  std::printf("second call answered while the first is mailed, CONNECT_IND to CONNECT_RESP, target <= 1.0 s\n");
  for (bool silent : {false, true}) {
    const double t = SecondCallAnswer(sff, silent);
    const char* server = silent ? "silent server " : "healthy server";
    if (t < 0) {
      std::printf("  %s: not answered within a minute  NOT met\n", server);
      continue;
    }
    std::printf("  %s: %.3f s  ratio to target %.2f  %s\n", server, t, t / 1.0, t <= 1.0 ? "met" : "NOT met");
  }
  const int queued = 20;
  const double drain = DrainTime(queued);
  if (drain < 0) {
    std::printf("queue drain: %d mails not delivered within five minutes\n", queued);
    return 1;
  }
  std::printf("queue drain: %d queued mails delivered in %.2f s once the server is back (%.0f mails/s)\n", queued,
              drain, queued / drain);
  return 0;
}
