// The watchdog thread and the search for a connection's socket in
// /proc/self/fd. Reads only this process's own descriptor table.
#include "store/call_watchdog.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kestrel {

CCallWatchdog& CCallWatchdog::Instance() {
  static CCallWatchdog instance;
  return instance;
}

CCallWatchdog::~CCallWatchdog() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::uint64_t CCallWatchdog::Arm(int fd, unsigned long inode, std::chrono::milliseconds timeout) {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  std::uint64_t token = nextToken_++;
  entries_[token] = Entry{fd, inode, std::chrono::steady_clock::now() + timeout, false};
  wake_.notify_all();
  return token;
}

bool CCallWatchdog::Disarm(std::uint64_t token) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(token);
  if (it == entries_.end()) return false;
  bool fired = it->second.fired;
  entries_.erase(it);
  return fired;
}

void CCallWatchdog::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    for (auto& [token, entry] : entries_) {
      if (entry.fired) continue;
      if (entry.deadline <= now) {
        // The call is still inside libpq, which holds the descriptor open, so
        // the number cannot have been reused unless libpq closed it itself;
        // the inode check covers that case.
        struct stat st {};
        if (fstat(entry.fd, &st) == 0 && static_cast<unsigned long>(st.st_ino) == entry.inode)
          shutdown(entry.fd, SHUT_RDWR);
        entry.fired = true;
      } else {
        next = std::min(next, entry.deadline);
      }
    }
    if (next == std::chrono::steady_clock::time_point::max())
      wake_.wait(lock);
    else
      wake_.wait_until(lock, next);
  }
}

namespace {

// Calls `visit(fd, inode)` for every socket descriptor of the process.
template <typename Visit>
void ForEachSocket(Visit visit) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  int dirFd = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == dirFd) continue;
    struct stat st {};
    if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    visit(static_cast<int>(fd), static_cast<unsigned long>(st.st_ino));
  }
  closedir(dir);
}

int PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

}  // namespace

std::vector<unsigned long> OpenSocketInodes() {
  std::vector<unsigned long> inodes;
  ForEachSocket([&](int, unsigned long inode) { inodes.push_back(inode); });
  return inodes;
}

int FindPostgresSocket(int clientPort, int serverPort, const std::vector<unsigned long>& before, unsigned long& inode) {
  const std::string unixSuffix = "/.s.PGSQL." + std::to_string(serverPort);
  int found = -1;
  int matches = 0;
  ForEachSocket([&](int fd, unsigned long ino) {
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0) return;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) return;
    bool match = false;
    if (clientPort > 0) {
      match = PortOf(local) == clientPort && PortOf(peer) == serverPort;
    } else if (peer.ss_family == AF_UNIX && std::find(before.begin(), before.end(), ino) == before.end()) {
      const auto& un = reinterpret_cast<const sockaddr_un&>(peer);
      std::size_t pathLen = peerLen > offsetof(sockaddr_un, sun_path) ? peerLen - offsetof(sockaddr_un, sun_path) : 0;
      std::string path(un.sun_path, strnlen(un.sun_path, std::min(pathLen, sizeof un.sun_path)));
      match = path.ends_with(unixSuffix);
    }
    if (match) {
      ++matches;
      found = fd;
      inode = ino;
    }
  });
  return matches == 1 ? found : -1;
}

}  // namespace kestrel
