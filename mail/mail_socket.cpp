#include "mail/mail_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/mail_error.h"

namespace kestrel {
namespace {

// The first IPv4 address of `host` (dotted form or a name).
bool Resolve(const std::string& host, sockaddr_in& out, std::string& errorText) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || !result) {
    errorText = ::gai_strerror(rc);
    if (result) ::freeaddrinfo(result);
    return false;
  }
  std::memcpy(&out, result->ai_addr, sizeof(sockaddr_in));
  ::freeaddrinfo(result);
  return true;
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

bool CMailSocket::Connect(const std::string& host, int port, const std::string& localAddress, int timeoutMs,
                          const std::atomic<bool>* stop) {
  resolverText_.clear();
  lastErrno_ = 0;
  if (fd_ < 0) {
    lastErrno_ = EBADF;
    return false;
  }
  if (!localAddress.empty()) {
    sockaddr_in local{};
    if (!Resolve(localAddress, local, resolverText_)) {
      SetMailLastError(kMailErrorInvalidArgument);
      return false;
    }
    local.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
      lastErrno_ = errno;
      SetMailLastError(lastErrno_);
      return false;
    }
  }
  sockaddr_in remote{};
  if (!Resolve(host, remote, resolverText_)) {
    SetMailLastError(kMailErrorInvalidArgument);
    return false;
  }
  remote.sin_port = htons(static_cast<uint16_t>(port));
  const int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  int error = 0;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) error = errno;
  if (error == EINPROGRESS || error == EINTR) {
    // Wait in short steps, so that a stop request is seen within 100 ms.
    error = ETIMEDOUT;
    for (int waited = 0; waited < timeoutMs;) {
      if (stop && stop->load()) {
        error = ECANCELED;
        break;
      }
      int step = std::min(100, timeoutMs - waited);
      pollfd p{fd_, POLLOUT, 0};
      int rc = ::poll(&p, 1, step);
      if (rc < 0 && errno != EINTR) {
        error = errno;
        break;
      }
      if (rc > 0) {
        socklen_t len = sizeof(error);
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        break;
      }
      waited += step;
    }
  }
  ::fcntl(fd_, F_SETFL, flags);
  if (error != 0) {
    lastErrno_ = error;
    SetMailLastError(lastErrno_);
    return false;
  }
  return true;
}

void CMailSocket::SetSendTimeout(int milliseconds) {
  if (fd_ < 0) return;
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

bool CMailSocket::Send(std::string_view data) {
  resolverText_.clear();
  while (!data.empty()) {
    ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastErrno_ = n < 0 ? errno : EPIPE;
      SetMailLastError(lastErrno_);
      return false;
    }
    data.remove_prefix(size_t(n));
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
