#include "platform/app_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kestrel {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// HOME, else the password database's entry (services often run without HOME).
std::string UserHome() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  const passwd* user = ::getpwuid(::geteuid());
  return user && user->pw_dir ? user->pw_dir : "";
}

FolderSources SourcesFromEnvironment(FolderUser user, const std::string& home) {
  struct stat st;
  FolderSources sources;
  sources.home = home.empty() ? Environment("KESTREL_HOME") : home;
  sources.packagedExists = ::stat(kPackagedFolder, &st) == 0 && S_ISDIR(st.st_mode);
  sources.user = user;
  sources.xdgDataHome = Environment("XDG_DATA_HOME");
  sources.userHome = UserHome();
  return sources;
}

}  // namespace

std::string ChooseApplicationFolder(const FolderSources& sources) {
  if (!sources.home.empty()) return WithSlash(sources.home);
  if (sources.packagedExists && sources.user == FolderUser::kService) return kPackagedFolder;
  if (!sources.xdgDataHome.empty() && sources.xdgDataHome.front() == '/')
    return WithSlash(sources.xdgDataHome) + "kestrel/";
  return WithSlash(sources.userHome) + ".local/share/kestrel/";
}

std::string SettleApplicationFolder(std::string_view program, FolderUser user, const std::string& home) {
  const FolderSources sources = SourcesFromEnvironment(user, home);
  std::string folder = ChooseApplicationFolder(sources);
  const bool chosenByUser = !sources.home.empty() || folder == kPackagedFolder;
  std::error_code error;
  if (!chosenByUser && !std::filesystem::is_directory(folder, error)) {
    // Private to the user: kestrel.xml will hold the mail password.
    const mode_t old = ::umask(0077);
    std::filesystem::create_directories(folder, error);
    ::umask(old);
    if (error) {
      errno = error.value();
      return {};
    }
    std::fprintf(stderr, "%.*s: created the application folder %s (--home DIR or KESTREL_HOME choose another)\n",
                 static_cast<int>(program.size()), program.data(), folder.c_str());
  }
  ::setenv("KESTREL_HOME", folder.c_str(), 1);
  return folder;
}

std::string ApplicationFolder() {
  const std::string home = Environment("KESTREL_HOME");
  if (!home.empty()) return WithSlash(home);
  return ChooseApplicationFolder(SourcesFromEnvironment(FolderUser::kService, ""));
}

std::string ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

}  // namespace kestrel
