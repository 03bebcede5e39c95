// Making and emptying the received-faxes folder. The folder is made with the
// mode the process's umask leaves, as the options sheet always did.
#include "core/received_folder.h"

#include <cerrno>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "core/event_log.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

bool IsEventLogName(const std::string& name) {
  const std::string_view log = kEventLogFileName;
  if (name.size() != log.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != log[i]) return false;
  }
  return true;
}

}  // namespace

bool MakeReceivedFolder(const std::string& folder) {
  if (folder.empty()) return true;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

ReceivedFolderClearing ClearReceivedFolder(const std::string& folder, const std::function<bool()>& deleteLogfile,
                                           const std::vector<std::string>& keep) {
  ReceivedFolderClearing result;
  if (folder.empty()) return result;
  // Told apart by the file itself, not by how its path is spelled.
  std::set<std::pair<dev_t, ino_t>> kept;
  for (const std::string& path : keep) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) kept.emplace(st.st_dev, st.st_ino);
  }
  // Listed in full first: deleting while the folder is being read may skip
  // entries.
  std::vector<fs::path> files;
  std::error_code ec;
  fs::directory_iterator it(fs::path(folder), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code statError;
    if (it->symlink_status(statError).type() == fs::file_type::regular && !statError) files.push_back(it->path());
  }
  if (ec) result.status = Status::Failed(folder, ec.message());
  for (const fs::path& file : files) {
    struct stat st;
    if (::lstat(file.c_str(), &st) == 0 && kept.count({st.st_dev, st.st_ino})) {
      ++result.kept;
      continue;
    }
    if (IsEventLogName(file.filename().string()) && !deleteLogfile()) continue;
    std::error_code removeError;
    if (!fs::remove(file, removeError) && removeError && result.status.Ok())
      result.status = Status::Failed(file.string(), removeError.message());
  }
  return result;
}

std::string KeptFilesText(std::size_t kept) {
  return std::to_string(kept) + " received fax file(s) kept: their faxes are not forwarded yet.";
}

}  // namespace kestrel
