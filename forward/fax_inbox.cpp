#include "forward/fax_inbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/event_log.h"
#include "platform/atomic_file.h"
#include "platform/bounded_file.h"

namespace kestrel {
namespace {

constexpr char kFolderName[] = "FaxInbox/";
constexpr char kEntryExtension[] = ".fax";
constexpr std::size_t kEntryExtensionLength = sizeof(kEntryExtension) - 1;

bool IsEntryName(const std::string& name) {
  return name.size() > kEntryExtensionLength &&
         name.compare(name.size() - kEntryExtensionLength, kEntryExtensionLength, kEntryExtension) == 0;
}

// The capture file's bytes on disk before its entry claims them.
void FlushFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (IsEntryName(name) && (e->d_type == DT_REG || e->d_type == DT_UNKNOWN)) names.push_back(std::move(name));
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

CFaxInbox::CFaxInbox(const std::string& applicationFolder, IEventLog& log)
    : folder_(applicationFolder + kFolderName), log_(log) {}

std::string CFaxInbox::NewEntryName() {
  // Nanoseconds since the epoch keep arrival order across restarts; the
  // sequence keeps two entries of one clock tick apart.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  std::snprintf(name, sizeof name, "%011lld%09ld-%04u%s", static_cast<long long>(now.tv_sec), now.tv_nsec,
                sequence_++ % 10000, kEntryExtension);
  return name;
}

std::optional<FaxEntry> CFaxInbox::Record(const FaxCallRecord& call) {
  FlushFile(call.captureFilePath);
  ::mkdir(folder_.c_str(), 0700);
  FaxEntry entry;
  entry.name = NewEntryName();
  entry.call = call;
  if (!WriteFileAtomically(folder_ + entry.name, FaxEntryText(entry), 0600)) {
    log_.WriteEventText("Received fax could not be recorded in " + folder_ + ": " + std::strerror(errno));
    return std::nullopt;
  }
  return entry;
}

bool CFaxInbox::Save(const FaxEntry& entry) {
  if (entry.name.empty()) return true;  // kept in memory only
  if (WriteFileAtomically(folder_ + entry.name, FaxEntryText(entry), 0600)) return true;
  log_.WriteEventText("Forwarding step could not be recorded in " + folder_ + entry.name + ": " + std::strerror(errno));
  return false;
}

void CFaxInbox::Remove(const FaxEntry& entry) {
  if (entry.name.empty()) return;
  const std::string path = folder_ + entry.name;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    log_.WriteEventText("Forwarded fax could not be removed from " + path + ": " + std::strerror(errno));
    return;
  }
  SyncFolderOf(path);
}

std::size_t CFaxInbox::Count() const { return EntryNames(folder_).size(); }

std::vector<FaxEntry> CFaxInbox::Pending() {
  const std::vector<std::string> names = EntryNames(folder_);
  std::vector<FaxEntry> entries;
  for (const std::string& name : names) {
    const std::string path = folder_ + name;
    std::string text;
    std::optional<FaxEntry> entry;
    if (ReadBoundedFile(path, text, kMaxEntryBytes)) entry = ParseFaxEntry(text);
    if (!entry) {
      log_.WriteEventText("Unreadable fax entry set aside: " + path + ".bad");
      ::rename(path.c_str(), (path + ".bad").c_str());
      continue;
    }
    entry->name = name;
    entries.push_back(std::move(*entry));
  }
  return entries;
}

}  // namespace kestrel
