// The capture file and the byte-level rules of fax capture: file name,
// B3 configuration, and the results read from the NCPI.
#include "capi/fax_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/event_log.h"
#include "platform/atomic_file.h"

namespace kestrel {
namespace {

constexpr char kFolderMissing[] = "receive fax folder not exist.";
constexpr int kMaxNameAttempts = 1000;
// The kinds of capture: the ISDN line's SFF and the audio line's TIFF.
constexpr const char* kCaptureExtensions[] = {kSffCaptureExtension, kTiffCaptureExtension};

// NCPI offsets, counted from the content's first byte (the struct's length
// byte is not part of `ncpi`).
constexpr std::size_t kRateAt = 0;
constexpr std::size_t kPagesAt = 6;
constexpr std::size_t kReceiveIdLengthAt = 8;
constexpr std::size_t kReceiveIdAt = 9;
constexpr std::size_t kMaxReceiveId = 20;

std::uint16_t Le16At(const std::uint8_t* p, std::size_t length, std::size_t at) {
  if (at + 2 > length) return 0;
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

FaxResults ParseFaxResults(const std::uint8_t* ncpi, std::size_t length) {
  FaxResults r;
  if (!ncpi) return r;
  r.rate = Le16At(ncpi, length, kRateAt);
  r.pages = Le16At(ncpi, length, kPagesAt);
  std::string receiveId;
  if (length > kReceiveIdLengthAt) {
    std::size_t n = ncpi[kReceiveIdLengthAt];
    if (n > kMaxReceiveId) n = kMaxReceiveId;
    for (std::size_t i = 0; i < n && kReceiveIdAt + i < length; ++i) {
      char c = static_cast<char>(ncpi[kReceiveIdAt + i]);
      if (c == '\0') break;
      receiveId += c;
    }
  }
  r.remoteStationId = RemoteStationId(receiveId);
  return r;
}

std::string RemoteStationId(const std::string& receiveId) {
  // The leading number as a C conversion reads it: blanks, a sign, digits. It
  // is above 0 exactly when no minus precedes a digit run that is not all
  // zeros; a run too long for 32 bits counts as above 0 too.
  std::size_t i = 0;
  while (i < receiveId.size() && IsSpace(receiveId[i])) ++i;
  bool negative = false;
  if (i < receiveId.size() && (receiveId[i] == '+' || receiveId[i] == '-')) negative = receiveId[i++] == '-';
  bool nonZero = false;
  for (; i < receiveId.size() && receiveId[i] >= '0' && receiveId[i] <= '9'; ++i)
    if (receiveId[i] != '0') nonZero = true;
  std::string digits;
  if (nonZero && !negative)
    for (char c : receiveId)
      if (c >= '0' && c <= '9') digits += c;
  return digits;
}

std::string FileNameCallerDigits(const std::string& callerNumber) {
  std::string out;
  for (char c : callerNumber)
    if ((c >= '0' && c <= '9') || c == '+' || c == '#' || c == '*') out += c;
  return out;
}

std::string CaptureFileName(const std::string& receivedDir, const std::string& callerNumber, const std::tm& local,
                            int attempt, std::string_view extension) {
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "_%d-%m-%Y-%H-%M-%S", &local);
  std::string path = receivedDir;
  if (path.empty() || path.back() != '/') path += '/';
  path += FileNameCallerDigits(callerNumber) + stamp;
  if (attempt > 1) path += "-" + std::to_string(attempt);
  return path.append(extension);
}

void EnsureReceivedFolder(const std::string& receivedDir, IEventLog& log) {
  struct stat st;
  if (::stat(receivedDir.c_str(), &st) != 0) {
    log.WriteEventText(kFolderMissing);
    ::mkdir(receivedDir.c_str(), 0755);
  }
}

int CreateCaptureFile(const std::string& receivedDir, const std::string& callerNumber, std::string_view extension,
                      std::string& path) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  path = CaptureFileName(receivedDir, callerNumber, local, 1, extension);
  // Without a folder the name would land in the file-system root.
  if (receivedDir.empty()) return -1;
  // The lines of one service choose their names one at a time, so that two
  // captures of one second (from the same caller, on either line) never share
  // a base name, which their mailed files take too.
  static std::mutex choosing;
  std::lock_guard<std::mutex> lock(choosing);
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    bool taken = false;
    for (const char* other : kCaptureExtensions) {
      struct stat st;
      if (other != extension &&
          ::lstat(CaptureFileName(receivedDir, callerNumber, local, attempt, other).c_str(), &st) == 0)
        taken = true;
    }
    if (taken) continue;
    const std::string candidate = CaptureFileName(receivedDir, callerNumber, local, attempt, extension);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      path = candidate;
      // The name must survive a crash: the forwarding side is told of it at once.
      (void)SyncFolderOf(path);  // a folder that cannot be flushed still takes the fax
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

std::string B3Configuration(const std::string& stationId) {
  std::string id = stationId.substr(0, kMaxStationIdLength);
  const std::string headLine = " ";
  std::string s;
  s += static_cast<char>(6 + id.size() + headLine.size());
  s.append(4, '\0');  // resolution 0, format 0 (SFF), little-endian words
  s += static_cast<char>(id.size());
  s += id;
  s += static_cast<char>(headLine.size());
  s += headLine;
  return s;
}

bool CFaxCapture::Create(const std::string& receivedDir, const std::string& callerNumber, std::string& path) {
  Close();
  EnsureReceivedFolder(receivedDir, log_);
  fd_ = CreateCaptureFile(receivedDir, callerNumber, kSffCaptureExtension, path);
  if (fd_ < 0) return false;
  path_ = path;
  written_ = {};
  return true;
}

void CFaxCapture::WriteFailed(int error) {
  if (!written_) return;
  const char* reason = std::strerror(error);
  log_.WriteEventText("The capture file " + path_ + " could not be written: " + reason + "; the fax is incomplete.");
  written_ = Status::Failed(path_, std::string("the capture file could not be written: ") + reason, error);
}

void CFaxCapture::DataAvailable(const std::uint8_t* data, std::size_t length) {
  if (!on_ || fd_ < 0 || length == 0 || !data || !written_) return;
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd_, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A write that makes no progress without an error is a full device.
      WriteFailed(n < 0 ? errno : ENOSPC);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

Status CFaxCapture::Finish() {
  if (fd_ < 0) return written_;
  if (::fsync(fd_) != 0) WriteFailed(errno);
  Close();
  return written_;
}

void CFaxCapture::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace kestrel
