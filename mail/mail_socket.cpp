#include "mail/mail_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/mail_error.h"
#include "mail/name_lookup.h"

namespace kestrel {
namespace {

// How often a wait looks at the stop flag.
constexpr int kStopStepMs = 100;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CMailSocket::~CMailSocket() { Close(); }

bool CMailSocket::Create() {
  Close();
  resolverText_.clear();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  lastErrno_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

bool CMailSocket::Fail(int error) {
  lastErrno_ = error;
  return false;
}

bool CMailSocket::Lookup(const std::string& host, int64_t deadlineMs, sockaddr_in& out) {
  const auto deadline = std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineMs));
  LookupResult found = LookupIPv4(host, deadline, stop_);
  switch (found.outcome) {
    case LookupOutcome::kFound: out = found.address; return true;
    case LookupOutcome::kUnknown: resolverText_ = found.errorText; return false;
    case LookupOutcome::kTimedOut: return Fail(ETIMEDOUT);
    case LookupOutcome::kStopped: return Fail(ECANCELED);
  }
  return false;
}

bool CMailSocket::Connect(const std::string& host, int port, const std::string& localAddress, int timeoutMs) {
  resolverText_.clear();
  lastErrno_ = 0;
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  const int64_t deadline = NowMs() + timeoutMs;
  if (!localAddress.empty()) {
    sockaddr_in local{};
    if (!Lookup(localAddress, deadline, local)) return false;
    local.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) return Fail(errno);
  }
  sockaddr_in remote{};
  if (!Lookup(host, deadline, remote)) return false;
  remote.sin_port = htons(static_cast<uint16_t>(port));
  const int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  int error = 0;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) error = errno;
  if (error == EINPROGRESS || error == EINTR) {
    error = ETIMEDOUT;
    for (int64_t left = deadline - NowMs(); left > 0; left = deadline - NowMs()) {
      if (StopRequested()) {
        error = ECANCELED;
        break;
      }
      pollfd p{fd_, POLLOUT, 0};
      int rc = ::poll(&p, 1, int(std::min<int64_t>(kStopStepMs, left)));
      if (rc < 0 && errno != EINTR) {
        error = errno;
        break;
      }
      if (rc > 0) {
        socklen_t len = sizeof(error);
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        break;
      }
    }
  }
  ::fcntl(fd_, F_SETFL, flags);
  return error == 0 || Fail(error);
}

bool CMailSocket::Send(std::string_view data) {
  resolverText_.clear();
  if (StopRequested()) return Fail(ECANCELED);
  int64_t idleSince = NowMs();
  while (!data.empty()) {
    ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data.remove_prefix(size_t(n));
      idleSince = NowMs();
      continue;
    }
    if (n == 0) return Fail(EPIPE);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    // The peer's window is full: wait for room, but not for ever and not
    // past a stop.
    for (;;) {
      if (StopRequested()) return Fail(ECANCELED);
      int64_t left = idleSince + sendTimeoutMs_ - NowMs();
      if (left <= 0) return Fail(ETIMEDOUT);
      pollfd p{fd_, POLLOUT, 0};
      int rc = ::poll(&p, 1, int(std::min<int64_t>(kStopStepMs, left)));
      if (rc < 0 && errno != EINTR) return Fail(errno);
      if (rc > 0) break;
    }
  }
  return true;
}

long CMailSocket::Receive(char* buffer, size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) lastErrno_ = errno;
  return long(n);
}

bool CMailSocket::IsReadable(bool& readable, int waitMs) {
  readable = false;
  pollfd p{fd_, POLLIN, 0};
  int rc = ::poll(&p, 1, waitMs);
  if (rc < 0) {
    if (errno == EINTR) return true;
    lastErrno_ = errno;
    return false;
  }
  if (rc > 0 && (p.revents & POLLNVAL)) {
    lastErrno_ = EBADF;
    return false;
  }
  readable = rc > 0;
  return true;
}

void CMailSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string CMailSocket::LastErrorText() const {
  if (!resolverText_.empty()) return resolverText_;
  return SystemErrorText(lastErrno_);
}

}  // namespace kestrel
