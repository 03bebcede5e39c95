// Benchmark of simultaneous fax calls over G.711 audio, run by `make bench`
// from a Release build. In steps of N = 1, 10, 20, 30, 40, 50 calls at once,
// N receivers (CAudioFaxCall, each on its own RTP port on loopback) take the
// same two-page fax from N senders (sip-faxsim, SpanDSP's sender, one process
// per call, as N remote machines would be). Per step it prints the wall time,
// the CPU time of both ends (this process and its reaped children) per second
// of call audio, and whether every page arrived pel for pel; the steps stop
// at the first one where a fax is incomplete or a page differs. The target is
// 30 calls at once; the closing CPU figure is that of the largest step that
// held (of the first step when none did). A step that fails is a result (exit 0); exit 1 only when
// the bench cannot set its calls up.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/audio_fax_call.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/media/udp_ports.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSteps[] = {1, 10, 20, 30, 40, 50};
constexpr int kTargetCalls = 30;
// Only a hang ends a step this way: a two-page call takes well under a minute.
constexpr std::chrono::minutes kStepBound{10};

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct BenchCall {
  std::unique_ptr<CAudioFaxCall> receiver;
  std::string received;
  std::string senderOutput;
  pid_t sender = 0;  // 0 once the sender has exited
  int senderStatus = -1;
  Clock::time_point started;
  Clock::time_point ended;
  AudioFaxResult result;
};

struct StepOutcome {
  bool setUp = false;
  double wallSeconds = 0;
  double callSeconds = 0;
  double receiverCpu = 0;
  double senderCpu = 0;
  bool timedOut = false;
  int exactCalls = 0;
  std::string firstFailure;
};

class CCallStep {
 public:
  CCallStep(const test::CTempDir& dir, const std::string& sentPath, const std::vector<test::FaxTiffPage>& sent)
      : dir_(dir), sentPath_(sentPath), sent_(sent) {}
  // A step cut short by a failed set-up still reaps what it started.
  ~CCallStep() {
    for (BenchCall& call : calls_) {
      if (call.sender == 0) continue;
      ::kill(call.sender, SIGKILL);
      ::waitpid(call.sender, nullptr, 0);
    }
  }
  CCallStep(const CCallStep&) = delete;
  CCallStep& operator=(const CCallStep&) = delete;

  StepOutcome Run(int count) {
    StepOutcome outcome;
    const std::vector<int> ports = test::FreeUdpPorts(2 * static_cast<std::size_t>(count));
    if (ports.empty()) return Refused("no free UDP ports on loopback");
    calls_.resize(static_cast<std::size_t>(count));
    const double selfBefore = CpuSeconds(RUSAGE_SELF);
    const double childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      if (std::string why = StartCall(i, ports[2 * i], ports[2 * i + 1]); !why.empty()) return Refused(why);
    }

    std::mutex mutex;
    std::condition_variable doneSignal;
    bool done = false;
    std::thread watch([&] {
      std::unique_lock lock(mutex);
      if (doneSignal.wait_until(lock, start + kStepBound, [&] { return done; })) return;
      outcome.timedOut = true;
      for (BenchCall& call : calls_) {
        if (call.sender != 0) ::kill(call.sender, SIGKILL);
        call.receiver->Hangup();
      }
    });
    // A sender is marked as exited before it is reaped, so the watch never
    // signals a process id that may have been handed out again.
    for (int left = count; left > 0; --left) {
      siginfo_t info{};
      if (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) != 0) break;
      BenchCall* call = nullptr;
      {
        std::lock_guard lock(mutex);
        for (BenchCall& each : calls_)
          if (each.sender == info.si_pid) call = &each;
        if (call) {
          call->sender = 0;
          call->ended = Clock::now();
        }
      }
      int status = 0;
      ::waitpid(info.si_pid, &status, 0);
      if (call) call->senderStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    for (BenchCall& call : calls_)
      if (call.ended < call.started) call.ended = Clock::now();
    for (BenchCall& call : calls_) call.result = call.receiver->Wait();
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    doneSignal.notify_one();
    watch.join();

    outcome.setUp = true;
    outcome.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.receiverCpu = CpuSeconds(RUSAGE_SELF) - selfBefore;
    outcome.senderCpu = CpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
    for (std::size_t i = 0; i < calls_.size(); ++i) {
      const BenchCall& call = calls_[i];
      outcome.callSeconds += std::chrono::duration<double>(call.ended - call.started).count();
      const std::string failure = Check(call);
      if (failure.empty())
        ++outcome.exactCalls;
      else if (outcome.firstFailure.empty())
        outcome.firstFailure = "call " + std::to_string(i + 1) + ": " + failure;
    }
    return outcome;
  }

 private:
  static StepOutcome Refused(const std::string& why) {
    StepOutcome outcome;
    outcome.firstFailure = why;
    return outcome;
  }

  // Starts call `i`'s receiver, then its sender; half the calls in A-law,
  // half in mu-law. Answers why it could not, or "".
  std::string StartCall(int i, int receiverPort, int senderPort) {
    BenchCall& call = calls_[static_cast<std::size_t>(i)];
    const AudioCodec codec = i % 2 ? AudioCodec::kPcmu : AudioCodec::kPcma;
    const std::string name = std::to_string(i + 1);
    call.received = dir_.File("received-" + name + ".tif");
    call.senderOutput = dir_.File("sender-" + name + ".txt");
    auto receiver = CAudioFaxCall::Start(
        {receiverPort, {"127.0.0.1", static_cast<std::uint16_t>(senderPort)}, codec, call.received, "bench"});
    if (!receiver) return "receiver " + name + ": " + receiver.Describe();
    call.receiver = std::move(*receiver);

    std::vector<std::string> args = {SIP_FAXSIM_PROGRAM,
                                     "--tiff",
                                     sentPath_,
                                     "--rtp",
                                     "127.0.0.1:" + std::to_string(receiverPort),
                                     "--local-port",
                                     std::to_string(senderPort),
                                     "--codec",
                                     codec == AudioCodec::kPcma ? "pcma" : "pcmu",
                                     "--ident",
                                     "bench " + name};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, call.senderOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    call.started = Clock::now();
    const int spawned = posix_spawn(&call.sender, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      call.sender = 0;
      return "sender " + name + ": posix_spawn failed with error " + std::to_string(spawned);
    }
    return "";
  }

  // What went wrong with `call`, or "" when both pages arrived exact.
  std::string Check(const BenchCall& call) const {
    std::string sender = test::ReadFileBytes(call.senderOutput);
    while (!sender.empty() && sender.back() == '\n') sender.pop_back();
    const std::string senderSaid = " (sender status " + std::to_string(call.senderStatus) + ": " + sender + ")";
    if (!call.result.complete) return "incomplete: " + call.result.incomplete + senderSaid;
    const std::vector<test::CTiffPage> pages = test::ReadTiffPages(call.received);
    if (pages.size() != sent_.size())
      return std::to_string(pages.size()) + " pages received of " + std::to_string(sent_.size()) + senderSaid;
    for (std::size_t n = 0; n < pages.size(); ++n) {
      if (pages[n].width != test::kFaxTiffWidth || pages[n].height != sent_[n].height || pages[n].rows != sent_[n].rows)
        return "page " + std::to_string(n + 1) + " differs from the page sent";
    }
    return "";
  }

  const test::CTempDir& dir_;
  const std::string sentPath_;
  const std::vector<test::FaxTiffPage>& sent_;
  std::vector<BenchCall> calls_;
};

int Main() {
  if (::access(SIP_FAXSIM_PROGRAM, X_OK) != 0) {
    std::fprintf(stderr, "bench_audio_calls: the sender %s is missing\n", SIP_FAXSIM_PROGRAM);
    return 1;
  }
  test::CTempDir dir;
  const std::vector<test::FaxTiffPage> sent = {test::BlockPage(1000, 1), test::BlockPage(1000, 2)};
  const std::string sentPath = dir.File("sent.tif");
  if (!test::WriteFaxTiff(sentPath, sent, test::FaxTiffCoding::kGroup4)) {
    std::fprintf(stderr, "bench_audio_calls: libtiff could not write %s\n", sentPath.c_str());
    return 1;
  }

  std::printf("Simultaneous fax calls over G.711 RTP on loopback, %u cores\n", std::thread::hardware_concurrency());
  std::printf("Each call: 2 fine pages of 1728 x 1000 pels, ECM; SpanDSP's sender in a process of its own\n");
  std::printf("CPU is this process (receivers) and its reaped children (senders), per second of call audio\n\n");
  std::printf("%5s %8s %8s  %-37s %s\n", "calls", "wall s", "call-s", "CPU ms per call-s: recv + send = all",
              "every page exact");
  int held = 0;
  double heldCpu = -1;
  for (const int count : kSteps) {
    CCallStep step(dir, sentPath, sent);
    const StepOutcome outcome = step.Run(count);
    if (!outcome.setUp) {
      std::fprintf(stderr, "bench_audio_calls: %d calls could not be set up: %s\n", count,
                   outcome.firstFailure.c_str());
      return 1;
    }
    const double perCallSecond = 1000.0 / std::max(outcome.callSeconds, 1e-9);
    const double cpu = (outcome.receiverCpu + outcome.senderCpu) * perCallSecond;
    const bool exact = outcome.exactCalls == count && !outcome.timedOut;
    const std::string verdict =
        exact ? "yes" : "NO (" + std::to_string(outcome.exactCalls) + " of " + std::to_string(count) + " calls)";
    std::printf("%5d %8.1f %8.1f  %8.1f + %8.1f = %8.1f        %s\n", count, outcome.wallSeconds, outcome.callSeconds,
                outcome.receiverCpu * perCallSecond, outcome.senderCpu * perCallSecond, cpu, verdict.c_str());
    std::fflush(stdout);
    if (heldCpu < 0 || exact) heldCpu = cpu;
    if (!exact) {
      if (outcome.timedOut)
        std::printf("      the step ran past its bound of %lld minutes\n", static_cast<long long>(kStepBound.count()));
      if (!outcome.firstFailure.empty()) std::printf("      first failure: %s\n", outcome.firstFailure.c_str());
      break;
    }
    held = count;
  }
  std::printf("\nmost calls held with every page exact: %d (target %d, ratio %d/%d = %.2f)\n", held, kTargetCalls, held,
              kTargetCalls, static_cast<double>(held) / kTargetCalls);
  std::printf("CPU per call-second: %.1f ms\n", heldCpu);
  return 0;
}

}  // namespace
}  // namespace kestrel

int main() { return kestrel::Main(); }
