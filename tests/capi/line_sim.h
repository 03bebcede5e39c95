// Test side of capi-linesim: runs the simulator as a child process on a free
// loopback port, points libcapi20 at it through $HOME/.capi20rc, feeds it
// commands and reads its record of the exchange.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestrel::test {

using namespace std::chrono_literals;

// A range of ten ApplIDs no other test process on this machine uses while this
// process runs (libcapi20 keeps ApplIDs in a machine-wide table). Held by an
// flock until the process ends.
int ReservedApplIdBase();

class CLineSim {
 public:
  // Starts capi-linesim with `args` (plus port, record and ApplID options),
  // keeping its files in `folder`. Throws when it does not come up.
  CLineSim(const std::string& folder, const std::vector<std::string>& args = {});
  // Closes its input, which ends it; kills it if it lingers.
  ~CLineSim();
  CLineSim(const CLineSim&) = delete;
  CLineSim& operator=(const CLineSim&) = delete;

  int Port() const { return port_; }
  // Writes `home`/.capi20rc for this simulator and sets HOME to `home`.
  void UseAsCapi(const std::string& home) const;

  // Sends command lines, all in one write.
  void Command(const std::string& lines);

  // The record so far, one entry a line.
  std::vector<std::string> Records() const;
  // The record lines that start with `prefix`.
  std::vector<std::string> RecordsStartingWith(const std::string& prefix) const;
  // Waits until at least `count` record lines contain `text`.
  bool WaitFor(const std::string& text, int count = 1, std::chrono::milliseconds timeout = 10s) const;

 private:
  std::string recordFile_;
  int port_ = 0;
  pid_t pid_ = -1;
  int input_ = -1;
};

// The value of `Name=` in a record line ("" when absent).
std::string RecordField(const std::string& line, const std::string& name);

// Polls `condition` every 20 ms until it holds or `timeout` passes.
template <typename F>
bool Eventually(F condition, std::chrono::milliseconds timeout = 10s) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    struct timespec ts {
      0, 20 * 1000 * 1000
    };
    nanosleep(&ts, nullptr);
  }
  return true;
}

}  // namespace kestrel::test
