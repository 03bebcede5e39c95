#include "forward/mail_queue.h"

#include <dirent.h>

#include <algorithm>

namespace kestrel {
namespace {

constexpr char kQueueFolderName[] = "MailQueue";
constexpr char kQueueFileExtension[] = ".eml";
constexpr std::size_t kQueueFileExtensionLength = sizeof(kQueueFileExtension) - 1;

// The file name of `path` without folder and extension.
std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

std::string MailQueueFolder(const std::string& applicationFolder) { return applicationFolder + kQueueFolderName; }

std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath) {
  return MailQueueFolder(applicationFolder) + "/" + StemOf(captureFilePath) + kQueueFileExtension;
}

std::vector<std::string> MailQueueFileNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() > kQueueFileExtensionLength &&
        name.compare(name.size() - kQueueFileExtensionLength, kQueueFileExtensionLength, kQueueFileExtension) == 0 &&
        (e->d_type == DT_REG || e->d_type == DT_UNKNOWN))
      names.push_back(std::move(name));
  }
  ::closedir(dir);
  // The directory's own order is arbitrary on Linux.
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kestrel
