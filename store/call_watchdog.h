// CCallWatchdog: the bound on database calls that wait on a server. A stopped
// server process keeps its socket open and the kernel still acknowledges every
// byte, so neither TCP time-outs nor keepalives ever fire and libpq would wait
// for ever. The watchdog shuts the connection's socket down once a call has run
// longer than its bound; libpq then sees the connection end and the call
// fails. Internal to the store.
//
// Thread-safe; one process-wide instance whose thread starts with the first
// armed call. Nothing here fails: a socket that cannot be found is not watched.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

class CCallWatchdog {
 public:
  [[nodiscard]] static CCallWatchdog& Instance();
  ~CCallWatchdog();

  // Watches socket `fd` (whose inode is `inode`) for `timeout`.
  [[nodiscard]] std::uint64_t Arm(int fd, unsigned long inode, std::chrono::milliseconds timeout);
  // Ends the watch; true when the watchdog had shut the socket down.
  [[nodiscard]] bool Disarm(std::uint64_t token);

 private:
  CCallWatchdog() = default;
  void Run();

  struct Entry {
    int fd;
    unsigned long inode;
    std::chrono::steady_clock::time_point deadline;
    bool fired;
  };
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::uint64_t, Entry> entries_;
  std::uint64_t nextToken_ = 1;
  bool stop_ = false;
  std::thread thread_;
};

// Inodes of the sockets the process holds now.
[[nodiscard]] std::vector<unsigned long> OpenSocketInodes();

// The socket of a connection to a PostgreSQL server listening on `serverPort`:
// over TCP the one whose local port is `clientPort`; over a Unix socket
// (`clientPort` 0) the one connected to ".s.PGSQL.<serverPort>" that is not in
// `before`. -1 when none or more than one fits.
[[nodiscard]] int FindPostgresSocket(int clientPort, int serverPort, const std::vector<unsigned long>& before,
                                     unsigned long& inode);

}  // namespace kestrel
