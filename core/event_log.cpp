// The event log's writer: one process-wide lock, one open-append-close per
// event, the four header lines while the file is shorter than 5 bytes.
// Event texts carry outside words (server replies, driver texts, numbers):
// their control characters are blanked so that one event stays one line.
#include "core/event_log.h"

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

}  // namespace

std::string EventDescription(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    // A CR or LF from a server reply would end the line early and start one
    // that is no event at all; every C0 byte and DEL is a blank first.
    if (b < 0x20 || b == 0x7F) c = ' ';
    if (c == ' ') c = '_';
  }
  return out;
}

CEventLog::CEventLog(std::string folder) : path_(std::move(folder) + kEventLogFileName) {}

void CEventLog::WriteEventText(std::string_view text) {
  std::lock_guard<std::mutex> lock(LogMutex());
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
