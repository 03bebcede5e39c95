#include "service/service_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace kestrel {
namespace {

constexpr char kLockFileName[] = "kestrel.lock";

pid_t ReadPid(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  const long pid = std::strtol(text, nullptr, 10);
  return pid > 0 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

CServiceLock::~CServiceLock() { Release(); }

bool CServiceLock::Acquire(const std::string& applicationFolder) {
  if (fd_ >= 0) return true;
  holder_ = 0;
  const std::string path = applicationFolder + kLockFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    holder_ = ReadPid(fd);
    ::close(fd);
    return false;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds without the number; only the message loses the pid.
  }
  fd_ = fd;
  holder_ = ::getpid();
  return true;
}

void CServiceLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // the lock ends with the descriptor
  fd_ = -1;
  holder_ = 0;
}

pid_t CServiceLock::RunningService(const std::string& applicationFolder) {
  const int fd = ::open((applicationFolder + kLockFileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  pid_t holder = 0;
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    holder = ReadPid(fd);
    if (holder == 0) holder = -1;
  }
  ::close(fd);
  return holder;
}

std::string OtherServiceText(const std::string& applicationFolder, pid_t holder) {
  std::string text = "Kestrel already runs for " + applicationFolder;
  if (holder > 0) text += " (process " + std::to_string(holder) + ")";
  return text + ".";
}

}  // namespace kestrel
