#include "media/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel {

struct CUdpSocket::CAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

namespace {

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

Result<std::unique_ptr<CUdpSocket>> CUdpSocket::Open(int localPort, const AudioEndpoint& remote,
                                                     const std::string& step) {
  auto peer = std::make_unique<CAddress>();
  sockaddr_storage local{};
  socklen_t length = 0;
  int family = AF_INET;
  if (auto* v4 = reinterpret_cast<sockaddr_in*>(&peer->storage);
      inet_pton(AF_INET, remote.address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(remote.port);
    auto* bound = reinterpret_cast<sockaddr_in*>(&local);
    bound->sin_family = AF_INET;
    bound->sin_port = htons(static_cast<std::uint16_t>(localPort));
    length = sizeof(sockaddr_in);
  } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer->storage);
             inet_pton(AF_INET6, remote.address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(remote.port);
    auto* bound = reinterpret_cast<sockaddr_in6*>(&local);
    bound->sin6_family = AF_INET6;
    bound->sin6_port = htons(static_cast<std::uint16_t>(localPort));
    family = AF_INET6;
    length = sizeof(sockaddr_in6);
  } else {
    return Failure{step, "\"" + remote.address + "\" is not a numeric address", 0};
  }
  peer->length = length;
  if (localPort <= 0 || localPort > 65535) return Failure{step, std::to_string(localPort) + " is not a port", 0};

  const int sock = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return Failure{step, "socket: " + ErrnoText(), 0};
  if (::bind(sock, reinterpret_cast<sockaddr*>(&local), length) != 0) {
    const std::string text = "port " + std::to_string(localPort) + ": " + ErrnoText();
    ::close(sock);
    return Failure{step, text, 0};
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const std::string text = "eventfd: " + ErrnoText();
    ::close(sock);
    return Failure{step, text, 0};
  }
  return std::unique_ptr<CUdpSocket>(new CUdpSocket(sock, wake, std::move(peer)));
}

CUdpSocket::CUdpSocket(int socket, int wakeFd, std::unique_ptr<CAddress> peer)
    : socket_(socket), wakeFd_(wakeFd), peer_(std::move(peer)) {}

CUdpSocket::~CUdpSocket() {
  ::close(socket_);
  ::close(wakeFd_);
}

void CUdpSocket::Send(std::span<const std::uint8_t> datagram) {
  (void)::sendto(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&peer_->storage), peer_->length);
}

void CUdpSocket::Receive(std::chrono::steady_clock::time_point until,
                         const std::function<bool(std::span<const std::uint8_t>)>& take) {
  // Rounded up: a wait cut to whole milliseconds downwards would spin
  // through the last one before every tick.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  if (::poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0) return;
  if (fds[1].revents & POLLIN) {
    std::uint64_t count = 0;
    (void)!::read(wakeFd_, &count, sizeof count);
  }
  std::uint8_t buffer[2048];
  for (;;) {
    CAddress from;
    from.length = sizeof from.storage;
    const ssize_t got = ::recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from.storage), &from.length);
    if (got < 0) return;
    if (take(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)))) *peer_ = from;
  }
}

void CUdpSocket::Wake() {
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

}  // namespace kestrel
