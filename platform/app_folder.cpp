#include "platform/app_folder.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace kestrel {

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string ApplicationFolder() {
  const char* home = std::getenv("KESTREL_HOME");
  if (home && *home) {
    std::string folder(home);
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  return ExecutableFolder();
}

}  // namespace kestrel
