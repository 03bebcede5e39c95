// The capture file and the byte-level rules of fax capture: file name,
// B3 configuration, and the results read from the NCPI.
#include "capi/fax_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr char kFolderMissing[] = "receive fax folder not exist.";

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

std::string CaptureFileName(const std::string& receivedDir, const std::string& callerNumber, const std::tm& local) {
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "_%d-%m-%Y-%H-%M-%S", &local);
  std::string path = receivedDir;
  if (path.empty() || path.back() != '/') path += '/';
  return path + FileNameCallerDigits(callerNumber) + stamp + ".sff";
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
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  struct stat st;
  if (::stat(receivedDir.c_str(), &st) != 0) {
    log_.WriteEventText(kFolderMissing);
    ::mkdir(receivedDir.c_str(), 0755);
  }
  path = CaptureFileName(receivedDir, callerNumber, local);
  // Without a folder the name would land in the file-system root.
  if (receivedDir.empty()) return false;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  return fd_ >= 0;
}

void CFaxCapture::DataAvailable(const std::uint8_t* data, std::size_t length) {
  if (!on_ || fd_ < 0 || length == 0 || !data) return;
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd_, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void CFaxCapture::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace kestrel
