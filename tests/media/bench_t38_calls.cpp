// Benchmark of simultaneous fax calls over T.38, run by `make bench` from a
// Release build. In steps of N = 1, 25, 50, 75, 100, 125, 150 calls at once,
// N receivers (CFaxCall in T.38, each on its own UDPTL port on loopback)
// take the same two-page fax from N senders (SpanDSP's T.38 terminal in
// this process, t38_sender.h), with redundancy as the SDP would agree. Per
// step it prints the wall time, the CPU time of this process (both ends) per
// second of call, and whether every page arrived pel for pel; the steps stop
// at the first one where a fax is incomplete or a page differs. The target
// is 100 calls at once. A step that fails is a result (exit 0); exit 1 only
// when the bench cannot set its calls up.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/fax_call.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/media/t38_sender.h"
#include "tests/media/udp_ports.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSteps[] = {1, 25, 50, 75, 100, 125, 150};
constexpr int kTargetCalls = 100;

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct StepOutcome {
  bool setUp = false;
  double wallSeconds = 0;
  double callSeconds = 0;
  double cpu = 0;
  int exactCalls = 0;
  std::string firstFailure;
};

// What went wrong with a call, or "" when both pages arrived exact.
std::string Check(const FaxCallResult& result, const test::T38SendOutcome& sender, const std::string& received,
                  const std::vector<test::FaxTiffPage>& sent) {
  if (!result.complete) return "incomplete: " + result.incomplete + " (sender: " + sender.describe + ")";
  const std::vector<test::CTiffPage> pages = test::ReadTiffPages(received);
  if (pages.size() != sent.size())
    return std::to_string(pages.size()) + " pages received of " + std::to_string(sent.size());
  for (std::size_t n = 0; n < pages.size(); ++n) {
    if (pages[n].width != test::kFaxTiffWidth || pages[n].height != sent[n].height || pages[n].rows != sent[n].rows)
      return "page " + std::to_string(n + 1) + " differs from the page sent";
  }
  return "";
}

StepOutcome RunStep(int count, const test::CTempDir& dir, const std::string& sentPath,
                    const std::vector<test::FaxTiffPage>& sent) {
  StepOutcome outcome;
  const std::vector<int> ports = test::FreeUdpPorts(2 * static_cast<std::size_t>(count));
  if (ports.empty()) {
    outcome.firstFailure = "no free UDP ports on loopback";
    return outcome;
  }
  std::vector<std::unique_ptr<CFaxCall>> calls;
  std::vector<std::unique_ptr<test::CT38Sender>> senders;
  std::vector<std::string> received;
  const double cpuBefore = CpuSeconds();
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const int ours = ports[2 * static_cast<std::size_t>(i)];
    const int theirs = ports[2 * static_cast<std::size_t>(i) + 1];
    const std::string name = std::to_string(i + 1);
    received.push_back(dir.File("received-" + name + ".tif"));
    auto call = CFaxCall::StartT38({received.back(), "bench", {}},
                                   {ours, {"127.0.0.1", static_cast<std::uint16_t>(theirs)}, {}});
    if (!call) {
      outcome.firstFailure = "receiver " + name + ": " + call.Describe();
      return outcome;
    }
    calls.push_back(std::move(*call));
    auto sender = test::CT38Sender::Start(sentPath, theirs, {"127.0.0.1", static_cast<std::uint16_t>(ours)},
                                          {.ident = "bench " + name});
    if (!sender) {
      outcome.firstFailure = "sender " + name + ": " + sender.Describe();
      return outcome;
    }
    senders.push_back(std::move(*sender));
  }
  outcome.setUp = true;
  for (int i = 0; i < count; ++i) {
    const auto index = static_cast<std::size_t>(i);
    const test::T38SendOutcome sender = senders[index]->Wait();
    outcome.callSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    // The sender's end stands for the caller's BYE.
    calls[index]->Hangup();
    const FaxCallResult result = calls[index]->Wait();
    const std::string failure = Check(result, sender, received[index], sent);
    if (failure.empty())
      ++outcome.exactCalls;
    else if (outcome.firstFailure.empty())
      outcome.firstFailure = "call " + std::to_string(i + 1) + ": " + failure;
  }
  outcome.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  outcome.cpu = CpuSeconds() - cpuBefore;
  return outcome;
}

int Main() {
  test::CTempDir dir;
  const std::vector<test::FaxTiffPage> sent = {test::BlockPage(1000, 1), test::BlockPage(1000, 2)};
  const std::string sentPath = dir.File("sent.tif");
  if (!test::WriteFaxTiff(sentPath, sent, test::FaxTiffCoding::kGroup4)) {
    std::fprintf(stderr, "bench_t38_calls: libtiff could not write %s\n", sentPath.c_str());
    return 1;
  }
  std::printf("Simultaneous fax calls over T.38 (UDPTL, redundancy) on loopback, %u cores\n",
              std::thread::hardware_concurrency());
  std::printf("Each call: 2 fine pages of 1728 x 1000 pels, ECM; SpanDSP's T.38 sender in this process\n");
  std::printf("CPU is this process (receivers and senders), per second of call\n\n");
  std::printf("%5s %8s %8s  %-24s %s\n", "calls", "wall s", "call-s", "CPU ms per call-s (both)", "every page exact");
  int held = 0;
  double heldCpu = -1;
  for (const int count : kSteps) {
    const StepOutcome outcome = RunStep(count, dir, sentPath, sent);
    if (!outcome.setUp) {
      std::fprintf(stderr, "bench_t38_calls: %d calls could not be set up: %s\n", count, outcome.firstFailure.c_str());
      return 1;
    }
    const double cpu = outcome.cpu * 1000.0 / std::max(outcome.callSeconds, 1e-9);
    const bool exact = outcome.exactCalls == count;
    const std::string verdict =
        exact ? "yes" : "NO (" + std::to_string(outcome.exactCalls) + " of " + std::to_string(count) + " calls)";
    std::printf("%5d %8.1f %8.1f  %24.2f %s\n", count, outcome.wallSeconds, outcome.callSeconds, cpu, verdict.c_str());
    std::fflush(stdout);
    if (heldCpu < 0 || exact) heldCpu = cpu;
    if (!exact) {
      std::printf("      first failure: %s\n", outcome.firstFailure.c_str());
      break;
    }
    held = count;
  }
  std::printf("\nmost calls held with every page exact: %d (target %d, ratio %d/%d = %.2f)\n", held, kTargetCalls, held,
              kTargetCalls, static_cast<double>(held) / kTargetCalls);
  std::printf("CPU per call-second: %.2f ms\n", heldCpu);
  return 0;
}

}  // namespace
}  // namespace kestrel

int main() { return kestrel::Main(); }
