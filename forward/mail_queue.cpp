#include "forward/mail_queue.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr char kQueueFolderName[] = "MailQueue";
constexpr char kQueueFileExtension[] = ".eml";
constexpr std::size_t kQueueFileExtensionLength = sizeof(kQueueFileExtension) - 1;
constexpr int kMaxQueueNameAttempts = 1000;

// The file name of `path` without folder and extension.
std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

std::string MailQueueFolder(const std::string& applicationFolder) { return applicationFolder + kQueueFolderName; }

std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath, int attempt) {
  std::string path = MailQueueFolder(applicationFolder) + "/" + StemOf(captureFilePath);
  if (attempt > 1) path += "-" + std::to_string(attempt);
  return path + kQueueFileExtension;
}

std::string PublishQueueFile(const std::string& written, const std::string& applicationFolder,
                             const std::string& captureFilePath) {
  std::string published;
  // link() never replaces an existing name, so a queue file waiting for the
  // monitor is never overwritten by a later fax of the same name.
  for (int attempt = 1; attempt <= kMaxQueueNameAttempts && published.empty(); ++attempt) {
    const std::string path = MailQueueFilePath(applicationFolder, captureFilePath, attempt);
    if (::link(written.c_str(), path.c_str()) == 0)
      published = path;
    else if (errno != EEXIST)
      break;
  }
  ::unlink(written.c_str());
  if (!published.empty()) SyncFolderOf(published);
  return published;
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
