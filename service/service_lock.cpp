// The lock is an open-file-description record lock over the whole file:
// unlike flock(), it can be inquired about (F_OFD_GETLK) without being taken,
// and like it, it belongs to the descriptor, not to the process's other files.
#include "service/service_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// A lock of `type` over the whole file, to take or to ask about.
struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

}  // namespace

CServiceLock::~CServiceLock() { Release(); }

Status CServiceLock::Acquire(const std::string& applicationFolder) {
  if (fd_ >= 0) return {};
  holder_ = 0;
  const std::string path = applicationFolder + kLockFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Status::Failed("start", "cannot open " + path + ": " + std::strerror(errno));
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    const int error = errno;
    if (error != EAGAIN && error != EACCES) {
      ::close(fd);
      return Status::Failed("start", "cannot lock " + path + ": " + std::strerror(error));
    }
    holder_ = ReadPid(fd);
    ::close(fd);
    return Status::Failed("start", OtherServiceText(applicationFolder, holder_));
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds without the number; only the message loses the pid.
  }
  fd_ = fd;
  holder_ = ::getpid();
  return {};
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
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
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
