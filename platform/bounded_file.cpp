#include "platform/bounded_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {

bool ReadBoundedFile(const std::string& path, std::string& out, std::size_t limit) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[8192];
  bool ok = true;
  while (out.size() <= limit) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    out.append(block, static_cast<std::size_t>(n));
  }
  const int readError = errno;
  ::close(fd);
  errno = readError;
  if (out.size() > limit) {
    out.resize(limit + 1);
    return false;
  }
  return ok;
}

}  // namespace kestrel
