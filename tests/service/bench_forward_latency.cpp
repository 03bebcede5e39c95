// Benchmark: how long a received fax takes from the line's DISCONNECT_IND to
// the mail server's acceptance of the message (250 after DATA), through the
// whole service: conversion, composition, SMTP, journal. Three-page faxes in
// PNG and in TIFF; several runs each, median printed with the 1 s target.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/notice_sink.h"
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

double MeasureOnce(int imageFormat, const std::string& sff, int run) {
  CTempDir app, home, mailOut;
  UseBenchFolders(app, home);
  CLineSim sim(home.Path());
  sim.UseAsCapi(home.Path());
  CSmtpServerPeer mail(mailOut.Path(), "none");

  CEventLog log(app.Path());
  ServiceSettings s = BenchSettings(app, mail.Port(), ImageFormatFromNumber(imageFormat));
  if (!ExportSettings(SettingsFilePath(app.Path()), s, log)) return -1;
  CQuietNotices notices;
  CServiceApp service(log, notices, nullptr);
  if (!service.InitInstance()) return -1;
  if (!sim.WaitFor("LISTEN_REQ")) return -1;

  sim.Command("call bench" + std::to_string(run) + " called=1234567 caller=0301234567 sff=" + sff +
              " pages=3 rate=14400 id=4930999");
  Clock::time_point disconnected{}, accepted{};
  auto deadline = Clock::now() + std::chrono::seconds(60);
  while (Clock::now() < deadline) {
    if (disconnected == Clock::time_point{}) {
      if (!sim.RecordsStartingWith("SEND DISCONNECT_IND").empty()) disconnected = Clock::now();
    } else if (FilesEndingIn(mailOut.Path(), ".content").size() > 0) {
      accepted = Clock::now();
      break;
    }
    ::usleep(1000);
  }
  service.ExitInstance();
  if (accepted == Clock::time_point{}) return -1;
  return std::chrono::duration<double>(accepted - disconnected).count();
}

}  // namespace

int main() {
  CTempDir work;
  std::vector<tools::SffMakePage> pages;
  for (int p = 0; p < 3; ++p) {
    tools::SffMakePage page;
    page.image = RenderLetterPage(1728, 2286, 11 + p);
    pages.push_back(std::move(page));
  }
  const std::string sff = work.File("three-pages.sff");
  WriteFileBytes(sff, tools::MakeSffFile(pages, tools::SffMakeOptions{}));

  std::printf("forwarding latency, DISCONNECT_IND to 250 after DATA (3-page fine fax), target <= 1.0 s\n");
  for (auto [format, name] : {std::pair{1, "PNG"}, std::pair{2, "TIFF"}}) {
    std::vector<double> runs;
    for (int r = 0; r < 5; ++r) {
      double t = MeasureOnce(format, sff, r);
      if (t < 0) {
        std::printf("  %-4s run %d: no mail arrived\n", name, r);
        return 1;
      }
      runs.push_back(t);
    }
    std::sort(runs.begin(), runs.end());
    double median = runs[runs.size() / 2];
    std::printf("  %-4s median %.3f s (min %.3f, max %.3f)  ratio to target %.2f  %s\n", name, median, runs.front(),
                runs.back(), median / 1.0, median <= 1.0 ? "met" : "NOT met");
  }
  return 0;
}
