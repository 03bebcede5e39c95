// Benchmark: a primary-rate line's 30 B-channels all ringing at once, through
// the whole service. Every fax must arrive exact (its capture equal to what
// the line sent, one mail per caller); printed are the latency from the last
// hang-up (DISCONNECT_IND) to the mail server's acceptance of the last mail
// (250 after DATA), and the reception worker's CPU time per call.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "capi/fax_receive_thread.h"
#include "core/event_log.h"
#include "core/settings_file.h"
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

constexpr int kChannels = 30;

// CPU seconds (user + system) of this process's thread named `name`; -1 when none is.
double ThreadCpuSeconds(const std::string& name) {
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return -1;
  double seconds = -1;
  while (dirent* e = ::readdir(tasks)) {
    const std::string dir = std::string("/proc/self/task/") + e->d_name;
    std::string comm = ReadFileBytes(dir + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm != name) continue;
    // Fields 14 and 15 of stat, counted after the name's closing parenthesis.
    const std::string stat = ReadFileBytes(dir + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    unsigned long utime = 0, stime = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) ==
        2)
      seconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  ::closedir(tasks);
  return seconds;
}

}  // namespace

int main() {
  CTempDir app, home, mailOut;
  UseBenchFolders(app, home);
  tools::SffMakePage page;
  page.image = RenderLetterPage(1728, 2286, 5);
  const std::string sff = home.File("one-page.sff");
  WriteFileBytes(sff, tools::MakeSffFile({page}, tools::SffMakeOptions{}));

  CLineSim sim(home.Path(), {"--bchannels", std::to_string(kChannels)});
  sim.UseAsCapi(home.Path());
  CSmtpServerPeer mail(mailOut.Path(), "none");
  CEventLog log(app.Path());
  ServiceSettings settings = BenchSettings(app, mail.Port());
  if (!ExportSettings(SettingsFilePath(app.Path()), settings, log)) return 1;
  CQuietNotices notices;
  CServiceApp service(log, notices, nullptr);
  if (!service.InitInstance() || !sim.WaitFor("LISTEN_REQ")) {
    std::printf("the service did not start listening\n");
    return 1;
  }
  const double cpuBefore = ThreadCpuSeconds(CFaxReceiveThread::kPumpThreadName);

  std::string calls;
  std::set<std::string> callers;
  for (int i = 0; i < kChannels; ++i) {
    char caller[16];
    std::snprintf(caller, sizeof caller, "03010000%02d", i);
    callers.insert(caller);
    calls += "call c" + std::to_string(i) + " called=1234567 caller=" + caller + " sff=" + sff +
             " pages=1 rate=14400 id=4930999\n";
  }
  sim.Command(calls);

  Clock::time_point lastHangUp{}, lastAccepted{};
  const auto deadline = Clock::now() + std::chrono::seconds(300);
  while (Clock::now() < deadline) {
    if (lastHangUp == Clock::time_point{}) {
      if (sim.RecordsStartingWith("SEND DISCONNECT_IND").size() >= kChannels) lastHangUp = Clock::now();
    } else if (FilesEndingIn(mailOut.Path(), ".content").size() >= kChannels) {
      lastAccepted = Clock::now();
      break;
    }
    ::usleep(1000);
  }
  const double cpuAfter = ThreadCpuSeconds(CFaxReceiveThread::kPumpThreadName);
  service.ExitInstance();

  std::printf("%d simultaneous faxes on %d B-channels (1-page fine fax each)\n", kChannels, kChannels);
  if (lastAccepted == Clock::time_point{}) {
    std::printf("  not every mail arrived: %zu of %d\n", FilesEndingIn(mailOut.Path(), ".content").size(), kChannels);
    return 1;
  }
  // Exact: every capture holds the bytes the line sent, one per caller.
  const std::string sent = ReadFileBytes(sff);
  const std::vector<std::string> captures = FilesEndingIn(settings.ReceivedDir, ".sff");
  std::set<std::string> captured;
  for (const std::string& name : captures) {
    if (ReadFileBytes(settings.ReceivedDir + name) != sent) {
      std::printf("  capture %s differs from the fax sent\n", name.c_str());
      return 1;
    }
    captured.insert(name.substr(0, name.find('_')));
  }
  if (captures.size() != kChannels || captured != callers) {
    std::printf("  %zu captures from %zu callers, expected %d\n", captures.size(), captured.size(), kChannels);
    return 1;
  }
  const double latency = std::chrono::duration<double>(lastAccepted - lastHangUp).count();
  std::printf("  all %d delivered exact\n", kChannels);
  std::printf("  last hang-up to last 250 after DATA: %.3f s\n", latency);
  if (cpuBefore >= 0 && cpuAfter >= 0)
    std::printf("  reception worker CPU: %.1f ms per call (%.2f s for %d calls)\n",
                (cpuAfter - cpuBefore) * 1000.0 / kChannels, cpuAfter - cpuBefore, kChannels);
  else
    std::printf("  reception worker CPU: thread %s not found\n", CFaxReceiveThread::kPumpThreadName);
  return 0;
}
