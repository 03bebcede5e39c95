// The event log's writer: one process-wide lock, one open-append-close per
// event, the four header lines while the file is shorter than 5 bytes.
// Event texts carry outside words (server replies, driver texts, numbers):
// their control characters are blanked so that one event stays one line.
#include "core/event_log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "core/version.h"

namespace kestrel {
namespace {

std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}

std::string Now() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

void WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The control characters of an event text, blanked: the words stay readable
// and one event stays one line.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return out;
}

// systemd sets JOURNAL_STREAM to "DEVICE:INODE" of the stream it connected to
// standard output and error; a descriptor that is still that stream speaks to
// the journal, one that was redirected since does not.
bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st;
  return ::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace

std::string EventDescription(std::string_view text) {
  // A CR or LF from a server reply would end the line early and start one
  // that is no event at all; every C0 byte and DEL is a blank first.
  std::string out = OneLine(text);
  for (char& c : out) {
    if (c == ' ') c = '_';
  }
  return out;
}

CEventLog::CEventLog(std::string folder) : path_(std::move(folder) + kEventLogFileName) {}

CEventLog::CEventLog(std::string folder, int echoFd, std::string program)
    : path_(std::move(folder) + kEventLogFileName),
      echoFd_(echoFd),
      echoIsJournal_(IsJournalStream(echoFd)),
      program_(std::move(program)) {}

void CEventLog::WriteEvent(EventSeverity severity, std::string_view text) {
  std::lock_guard<std::mutex> lock(LogMutex());
  if (echoFd_ >= 0) {
    // The whole line in one write: the journal reads a line's priority from
    // its first bytes, and a line cut in two would lose it for the rest.
    WriteAll(echoFd_, (echoIsJournal_ ? "<" + std::to_string(static_cast<int>(severity)) + ">" : program_ + ": ") +
                          OneLine(text) + "\n");
  }
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string now = Now();
  std::string out;
  struct stat st;
  if (::fstat(fd, &st) == 0 && st.st_size < 5) {
    out += "#Software: Kestrel \n";
    out += std::string("#Version: ") + kProductVersion + " \n";
    out += "#Date: " + now + "\n";
    out += "#Fields: Date Time Service Description Status\n";
  }
  out += now + " Kestrel: " + EventDescription(text) + " OK\n";
  WriteAll(fd, out);
  ::close(fd);
}

}  // namespace kestrel
