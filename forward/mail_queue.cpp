#include "forward/mail_queue.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "mail/mail_address.h"
#include "mail/smtp_message.h"
#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr char kQueueFolderName[] = "MailQueue";
constexpr char kUndeliverableFolderName[] = "/Undeliverable";
constexpr char kQueueFileExtension[] = ".eml";
constexpr std::size_t kQueueFileExtensionLength = sizeof(kQueueFileExtension) - 1;
constexpr int kMaxQueueNameAttempts = 1000;

// The file name of `path` without folder and extension.
std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Renames `from` to `to` unless `to` exists: a file waiting in one folder is
// never overwritten by one of the same name from the other.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool ListedIn(const std::string& folder, const std::string& name) {
  const std::vector<std::string> names = MailQueueFileNames(folder);
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::string MailQueueFolder(const std::string& applicationFolder) { return applicationFolder + kQueueFolderName; }

std::string UndeliverableFolder(const std::string& applicationFolder) {
  return MailQueueFolder(applicationFolder) + kUndeliverableFolderName;
}

std::string MailQueueFilePath(const std::string& applicationFolder, const std::string& captureFilePath, int attempt,
                              QueueShelf shelf) {
  std::string path = (shelf == QueueShelf::kUndeliverable ? UndeliverableFolder(applicationFolder)
                                                          : MailQueueFolder(applicationFolder)) +
                     "/" + StemOf(captureFilePath);
  if (attempt > 1) path += "-" + std::to_string(attempt);
  return path + kQueueFileExtension;
}

std::string PublishQueueFile(const std::string& written, const std::string& applicationFolder,
                             const std::string& captureFilePath, QueueShelf shelf) {
  if (shelf == QueueShelf::kUndeliverable) ::mkdir(UndeliverableFolder(applicationFolder).c_str(), 0750);
  std::string published;
  // link() never replaces an existing name, so a queue file waiting for the
  // monitor is never overwritten by a later fax of the same name.
  for (int attempt = 1; attempt <= kMaxQueueNameAttempts && published.empty(); ++attempt) {
    const std::string path = MailQueueFilePath(applicationFolder, captureFilePath, attempt, shelf);
    if (::link(written.c_str(), path.c_str()) == 0)
      published = path;
    else if (errno != EEXIST)
      break;
  }
  ::unlink(written.c_str());
  if (!published.empty()) SyncFolderOf(published);
  return published;
}

std::string SetAsideUndeliverable(const std::string& path) {
  const std::string folder = FolderOf(path) + kUndeliverableFolderName;
  if (::mkdir(folder.c_str(), 0750) != 0 && errno != EEXIST) return {};
  const std::string name = FileNameOf(path);
  const std::string stem = StemOf(path);
  for (int attempt = 1; attempt <= kMaxQueueNameAttempts; ++attempt) {
    std::string target =
        folder + "/" + (attempt == 1 ? name : stem + "-" + std::to_string(attempt) + kQueueFileExtension);
    if (MoveWithoutReplacing(path, target)) {
      SyncFolderOf(path);
      SyncFolderOf(target);
      return target;
    }
    if (errno != EEXIST) break;
  }
  return {};
}

std::string UndeliverableEventText(const std::string& keptAt, const std::string& reply) {
  return "The mail server refused the mail for good, it is not sent again and kept as " + keptAt + " (" + reply + ")";
}

Status ReturnUndeliverable(const std::string& applicationFolder, const std::string& name) {
  const std::string from = UndeliverableFolder(applicationFolder);
  // Only a name the folder lists: no path, nothing outside it.
  if (!ListedIn(from, name)) return Status::Failed("queue retry", "No undeliverable mail is called " + name + ".");
  const std::string source = from + "/" + name;
  const std::string target = MailQueueFolder(applicationFolder) + "/" + name;
  if (!MoveWithoutReplacing(source, target))
    return Status::Failed("queue retry", errno == EEXIST ? "The mail queue already holds a file " + name + "."
                                                         : name + " cannot be moved: " + std::strerror(errno) + ".");
  SyncFolderOf(source);
  SyncFolderOf(target);
  return Status();
}

Status KeepOwedRecipients(const std::string& path, const std::vector<CMailAddress>& owed) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Failed("queue file", path + " cannot be read: " + std::strerror(errno));
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return Status::Failed("queue file", path + " cannot be read.");
  if (!WriteFileAtomically(path, WithToHeader(bytes, owed), 0640))
    return Status::Failed("queue file", path + " cannot be rewritten: " + std::strerror(errno));
  return Status();
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
