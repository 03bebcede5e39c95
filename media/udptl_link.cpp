#include "media/udptl_link.h"

#include <algorithm>

namespace kestrel {

Result<std::unique_ptr<CUdptlLink>> CUdptlLink::Open(int localPort, const AudioEndpoint& remote,
                                                     const T38Parameters& peer) {
  Result<std::unique_ptr<CUdpSocket>> socket = CUdpSocket::Open(localPort, remote, "UDPTL");
  if (!socket) return socket.Error();
  return std::unique_ptr<CUdptlLink>(new CUdptlLink(std::move(*socket), peer));
}

CUdptlLink::CUdptlLink(std::unique_ptr<CUdpSocket> socket, const T38Parameters& peer)
    : socket_(std::move(socket)), sender_(peer), lastHeard_(std::chrono::steady_clock::now()) {}

bool CUdptlLink::Send(std::span<const std::uint8_t> ifp, int count) {
  const Result<std::vector<std::uint8_t>> datagram = sender_.Next(ifp);
  if (!datagram) return false;
  for (int i = 0; i < std::max(count, 1); ++i) socket_->Send(datagram.Value());
  return true;
}

void CUdptlLink::Receive(std::chrono::steady_clock::time_point until) {
  if (next_ == received_.size()) {
    received_.clear();
    next_ = 0;
  }
  socket_->Receive(until, [this](std::span<const std::uint8_t> datagram) {
    if (!receiver_.Take(datagram, received_)) return false;
    lastHeard_ = std::chrono::steady_clock::now();
    return true;
  });
}

bool CUdptlLink::NextIfp(UdptlIfp& ifp) {
  if (next_ == received_.size()) return false;
  ifp = std::move(received_[next_++]);
  return true;
}

}  // namespace kestrel
