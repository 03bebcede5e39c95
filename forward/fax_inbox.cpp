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

#include "convert/sff_file.h"
#include "convert/tiff_capture.h"
#include "core/event_log.h"
#include "platform/atomic_file.h"
#include "platform/bounded_file.h"

namespace kestrel {
namespace {

constexpr char kFolderName[] = "FaxInbox/";
constexpr char kEntryExtension[] = ".fax";
constexpr char kReceptionExtension[] = ".rcv";
constexpr char kSetAsideExtension[] = ".bad";
// Why the pages of a call a crash cut off may be missing.
constexpr char kServiceEnded[] = "the service ended during the call";

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The capture file's bytes on disk before its entry claims them. False, with
// errno, when it cannot be opened or flushed.
bool FlushFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  const int flushError = errno;
  ::close(fd);
  errno = flushError;
  return flushed;
}

// The names in `folder` ending in `extension`, sorted: arrival order.
std::vector<std::string> NamesEndingIn(const std::string& folder, const std::string& extension) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (EndsWith(name, extension) && (e->d_type == DT_REG || e->d_type == DT_UNKNOWN))
        names.push_back(std::move(name));
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The capture files the entries of `folder` ending in `extension` name;
// files that cannot be read or parsed now are passed over, unlogged.
std::vector<std::string> CapturesNamedIn(const std::string& folder, const std::string& extension) {
  std::vector<std::string> captures;
  for (const std::string& name : NamesEndingIn(folder, extension)) {
    std::string text;
    if (!ReadBoundedFile(folder + name, text, kMaxEntryBytes)) continue;
    if (std::optional<FaxEntry> entry = ParseFaxEntry(text)) captures.push_back(entry->call.captureFilePath);
  }
  return captures;
}

}  // namespace

CFaxInbox::CFaxInbox(const std::string& applicationFolder, IEventLog& log)
    : folder_(applicationFolder + kFolderName), log_(log) {}

std::string CFaxInbox::NewEntryName(const char* extension) {
  // Nanoseconds since the epoch keep arrival order across restarts; the
  // sequence keeps two entries of one clock tick apart.
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  std::snprintf(name, sizeof name, "%011lld%09ld-%04u%s", static_cast<long long>(now.tv_sec), now.tv_nsec,
                sequence_++ % 10000, extension);
  return name;
}

std::optional<std::string> CFaxInbox::BeginReception(const FaxCallRecord& call) {
  ::mkdir(folder_.c_str(), 0750);
  FaxEntry entry;
  entry.call = call;
  const std::string name = NewEntryName(kReceptionExtension);
  {
    std::lock_guard<std::mutex> lock(receptionsMutex_);
    ownReceptions_.insert(name);
  }
  if (!WriteFileAtomically(folder_ + name, FaxEntryText(entry), 0640)) {
    log_.WriteEventText("Fax call could not be recorded in " + folder_ + ": " + std::strerror(errno));
    std::lock_guard<std::mutex> lock(receptionsMutex_);
    ownReceptions_.erase(name);
    return std::nullopt;
  }
  return name;
}

void CFaxInbox::EndReception(const std::string& name) {
  if (name.empty()) return;
  RemoveFile(name);
  std::lock_guard<std::mutex> lock(receptionsMutex_);
  ownReceptions_.erase(name);
}

void CFaxInbox::AdoptInterruptedReceptions() {
  // A crash between recording the fax and removing its reception record
  // leaves both: the fax is forwarded whole, from its entry.
  const std::vector<std::string> recorded = CapturesNamedIn(folder_, kEntryExtension);
  for (const std::string& name : NamesEndingIn(folder_, kReceptionExtension)) {
    {
      std::lock_guard<std::mutex> lock(receptionsMutex_);
      if (ownReceptions_.count(name)) continue;
    }
    std::optional<FaxEntry> left = ReadEntry(name);
    if (!left) continue;
    FaxCallRecord call = left->call;
    if (std::find(recorded.begin(), recorded.end(), call.captureFilePath) != recorded.end()) {
      Remove(*left);
      continue;
    }
    int pages = 0;
    if (IsTiffFile(call.captureFilePath)) {
      // The audio line's TIFF is whole up to the last page its receiver finished.
      if (Result<CTiffCapture> tiff = CTiffCapture::Open(call.captureFilePath)) pages = tiff->PageCount();
    } else if (Result<CSffFile> sff = CSffFile::Open(call.captureFilePath, log_)) {
      pages = sff->PageCount();
    }
    if (pages == 0) {
      log_.WriteEventText("Fax call ended by the end of the service brought no page, its record is removed: " +
                          call.captureFilePath);
      Remove(*left);
      continue;
    }
    call.pages = static_cast<std::uint16_t>(pages);
    call.incomplete = kServiceEnded;
    struct stat st;
    call.endTime = ::stat(call.captureFilePath.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    if (!Record(call)) continue;  // logged; the record stays for the next start
    log_.WriteEventText("Fax call ended by the end of the service is forwarded as incomplete: " + call.captureFilePath);
    Remove(*left);
  }
  // A record that could not be read waits for the next start, not for a pass.
  std::erase_if(unreadable_, [](const std::string& name) { return EndsWith(name, kReceptionExtension); });
}

std::optional<FaxEntry> CFaxInbox::Record(const FaxCallRecord& call) {
  if (!FlushFile(call.captureFilePath)) {
    log_.WriteEventText("Received fax could not be recorded in " + folder_ + ": " + call.captureFilePath + ": " +
                        std::strerror(errno));
    return std::nullopt;
  }
  ::mkdir(folder_.c_str(), 0750);
  FaxEntry entry;
  entry.name = NewEntryName(kEntryExtension);
  entry.call = call;
  entry.call.receptionEntry.clear();
  if (!WriteFileAtomically(folder_ + entry.name, FaxEntryText(entry), 0640)) {
    log_.WriteEventText("Received fax could not be recorded in " + folder_ + ": " + std::strerror(errno));
    return std::nullopt;
  }
  return entry;
}

bool CFaxInbox::Save(const FaxEntry& entry) {
  if (entry.name.empty()) return true;  // kept in memory only
  if (WriteFileAtomically(folder_ + entry.name, FaxEntryText(entry), 0640)) return true;
  log_.WriteEventText("Forwarding step could not be recorded in " + folder_ + entry.name + ": " + std::strerror(errno));
  return false;
}

void CFaxInbox::Remove(const FaxEntry& entry) { RemoveFile(entry.name); }

void CFaxInbox::RemoveFile(const std::string& name) {
  if (name.empty()) return;
  const std::string path = folder_ + name;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    log_.WriteEventText("Forwarded fax could not be removed from " + path + ": " + std::strerror(errno));
    return;
  }
  if (!SyncFolderOf(path))
    log_.WriteEventText("The removal of " + path + " could not be flushed to disk: " + std::strerror(errno));
}

std::size_t CFaxInbox::Count() const { return NamesEndingIn(folder_, kEntryExtension).size(); }

std::size_t CFaxInbox::SetAsideCount() const { return NamesEndingIn(folder_, kSetAsideExtension).size(); }

std::vector<std::string> CFaxInbox::PendingCaptureFiles(const std::string& applicationFolder) {
  const std::string folder = applicationFolder + kFolderName;
  std::vector<std::string> captures = CapturesNamedIn(folder, kEntryExtension);
  const std::vector<std::string> receptions = CapturesNamedIn(folder, kReceptionExtension);
  captures.insert(captures.end(), receptions.begin(), receptions.end());
  return captures;
}

std::optional<FaxEntry> CFaxInbox::ReadEntry(const std::string& name) {
  const std::string path = folder_ + name;
  std::string text;
  if (!ReadBoundedFile(path, text, kMaxEntryBytes) && text.size() <= kMaxEntryBytes) {
    const int readError = errno;
    if (readError == ENOENT) {  // done meanwhile
      unreadable_.erase(name);
      return std::nullopt;
    }
    // Its text may be perfectly good: the next pass reads it again.
    if (unreadable_.insert(name).second)
      log_.WriteEventText("Fax entry cannot be read now, it is tried again: " + path + ": " + std::strerror(readError));
    return std::nullopt;
  }
  unreadable_.erase(name);
  std::optional<FaxEntry> entry = ParseFaxEntry(text);
  if (!entry) {
    log_.WriteEventText("Unreadable fax entry set aside: " + path + kSetAsideExtension);
    ::rename(path.c_str(), (path + kSetAsideExtension).c_str());
    return std::nullopt;
  }
  entry->name = name;
  return entry;
}

std::vector<FaxEntry> CFaxInbox::Pending() {
  std::vector<FaxEntry> entries;
  for (const std::string& name : NamesEndingIn(folder_, kEntryExtension))
    if (std::optional<FaxEntry> entry = ReadEntry(name)) entries.push_back(std::move(*entry));
  return entries;
}

}  // namespace kestrel
