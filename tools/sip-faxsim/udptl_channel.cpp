#include "udptl_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace kestrel::faxsim {

// The datagram is the aligned packed encoding of: sequence number (16 bits),
// primary IFP (an open type: length, bytes), then a choice of the earlier
// IFPs (a count, then each as an open type) or forward error correction.
namespace {

constexpr std::uint8_t kRedundancyChoice = 0x00;
constexpr std::uint8_t kFecChoice = 0x80;
// Lengths from 16384 on come in fragments, which no IFP needs.
constexpr std::size_t kLongestLength = 16383;

void PutLength(std::vector<std::uint8_t>& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<std::uint8_t>(length));
  } else {
    out.push_back(static_cast<std::uint8_t>(0x80 | (length >> 8)));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
  }
}

std::size_t LengthSize(std::size_t length) { return length < 0x80 ? 1 : 2; }

class CReader {
 public:
  explicit CReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Byte(std::uint8_t& value) {
    if (at_ >= bytes_.size()) return false;
    value = bytes_[at_++];
    return true;
  }
  bool Length(std::size_t& length) {
    std::uint8_t first = 0;
    if (!Byte(first)) return false;
    if ((first & 0x80) == 0) {
      length = first;
      return true;
    }
    std::uint8_t second = 0;
    if ((first & 0xC0) == 0xC0 || !Byte(second)) return false;
    length = static_cast<std::size_t>(first & 0x3F) << 8 | second;
    return true;
  }
  bool Bytes(std::vector<std::uint8_t>& out) {
    std::size_t length = 0;
    if (!Length(length) || length > bytes_.size() - at_) return false;
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
               bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + length));
    at_ += length;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

Failure UdptlFailure(const std::string& text) { return Failure{"UDPTL", text, 0}; }

}  // namespace

std::vector<std::uint8_t> EncodeUdptl(std::uint16_t sequence, std::span<const std::uint8_t> primary,
                                      const std::vector<std::vector<std::uint8_t>>& earlier, std::size_t redundancy,
                                      std::size_t maxSize, std::size_t& carried) {
  std::vector<std::uint8_t> out;
  out.push_back(static_cast<std::uint8_t>(sequence >> 8));
  out.push_back(static_cast<std::uint8_t>(sequence & 0xFF));
  PutLength(out, primary.size());
  out.insert(out.end(), primary.begin(), primary.end());
  out.push_back(kRedundancyChoice);
  std::size_t size = out.size() + 1;  // and the count
  carried = 0;
  const std::size_t limit = maxSize == 0 ? SIZE_MAX : maxSize;
  for (std::size_t i = 0; i < std::min(redundancy, earlier.size()); ++i) {
    const std::size_t more = LengthSize(earlier[i].size()) + earlier[i].size();
    if (size + more > limit) break;
    size += more;
    ++carried;
  }
  PutLength(out, carried);
  for (std::size_t i = 0; i < carried; ++i) {
    PutLength(out, earlier[i].size());
    out.insert(out.end(), earlier[i].begin(), earlier[i].end());
  }
  return out;
}

std::optional<UdptlDatagram> DecodeUdptl(std::span<const std::uint8_t> bytes) {
  CReader reader(bytes);
  UdptlDatagram datagram;
  std::uint8_t high = 0;
  std::uint8_t low = 0;
  std::uint8_t choice = 0;
  if (!reader.Byte(high) || !reader.Byte(low) || !reader.Bytes(datagram.primary) || !reader.Byte(choice))
    return std::nullopt;
  datagram.sequence = static_cast<std::uint16_t>(high << 8 | low);
  if (choice == kFecChoice) {
    // The parity is not used here; what matters is that it is well formed.
    std::vector<std::uint8_t> skip;
    std::size_t entries = 0;
    if (!reader.Bytes(skip) || !reader.Length(entries)) return std::nullopt;
    for (std::size_t i = 0; i < entries; ++i)
      if (!reader.Bytes(skip)) return std::nullopt;
    datagram.fec = true;
    return datagram;
  }
  std::size_t entries = 0;
  if (choice != kRedundancyChoice || !reader.Length(entries)) return std::nullopt;
  for (std::size_t i = 0; i < entries; ++i) {
    std::vector<std::uint8_t> ifp;
    if (!reader.Bytes(ifp)) return std::nullopt;
    datagram.earlier.push_back(std::move(ifp));
  }
  return datagram;
}

struct CUdptlChannel::CAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

Result<std::unique_ptr<CUdptlChannel>> CUdptlChannel::Open(const UdptlSetup& setup) {
  auto peer = std::make_unique<CAddress>();
  sockaddr_storage local{};
  int family = AF_INET;
  if (auto* v4 = reinterpret_cast<sockaddr_in*>(&peer->storage);
      inet_pton(AF_INET, setup.remote.address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(setup.remote.port);
    peer->length = sizeof(sockaddr_in);
    auto* bound = reinterpret_cast<sockaddr_in*>(&local);
    bound->sin_family = AF_INET;
    bound->sin_port = htons(static_cast<std::uint16_t>(setup.localPort));
  } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer->storage);
             inet_pton(AF_INET6, setup.remote.address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(setup.remote.port);
    peer->length = sizeof(sockaddr_in6);
    auto* bound = reinterpret_cast<sockaddr_in6*>(&local);
    bound->sin6_family = AF_INET6;
    bound->sin6_port = htons(static_cast<std::uint16_t>(setup.localPort));
    family = AF_INET6;
  } else {
    return UdptlFailure("\"" + setup.remote.address + "\" is not a numeric address");
  }
  if (setup.localPort <= 0 || setup.localPort > 65535)
    return UdptlFailure(std::to_string(setup.localPort) + " is not a port");
  const int sock = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return UdptlFailure(std::string("socket: ") + std::strerror(errno));
  if (::bind(sock, reinterpret_cast<sockaddr*>(&local), peer->length) != 0) {
    const std::string text = "port " + std::to_string(setup.localPort) + ": " + std::strerror(errno);
    ::close(sock);
    return UdptlFailure(text);
  }
  return std::unique_ptr<CUdptlChannel>(new CUdptlChannel(sock, std::move(peer), setup));
}

CUdptlChannel::CUdptlChannel(int socket, std::unique_ptr<CAddress> peer, const UdptlSetup& setup)
    : socket_(socket),
      peer_(std::move(peer)),
      setup_(setup),
      sendLoss_(setup.seed),
      receiveLoss_(setup.seed ^ 0x9E3779B9u),
      lastHeard_(std::chrono::steady_clock::now()) {}

CUdptlChannel::~CUdptlChannel() { ::close(socket_); }

void CUdptlChannel::Send(std::span<const std::uint8_t> ifp, int copies) {
  const std::uint16_t sequence = sequence_++;
  std::size_t carried = 0;
  const std::vector<std::uint8_t> datagram =
      EncodeUdptl(sequence, ifp, history_, setup_.redundancy, setup_.maxDatagram, carried);
  history_.insert(history_.begin(), std::vector<std::uint8_t>(ifp.begin(), ifp.end()));
  if (history_.size() > setup_.redundancy) history_.resize(setup_.redundancy);
  if (setup_.maxDatagram != 0 && datagram.size() > setup_.maxDatagram) {
    ++counts_.oversize;
    return;
  }
  std::uniform_real_distribution<double> percent(0, 100);
  for (int copy = 0; copy < std::max(copies, 1); ++copy) {
    ++counts_.sent;
    // Drawn for every datagram, lost or not, so that a seed names one pattern.
    if (percent(sendLoss_) < setup_.lossPercent) {
      ++counts_.dropped;
      continue;
    }
    (void)::sendto(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&peer_->storage), peer_->length);
  }
}

void CUdptlChannel::Receive(std::chrono::steady_clock::time_point until,
                            const std::function<void(std::uint16_t, std::span<const std::uint8_t>)>& deliver) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  pollfd fd{socket_, POLLIN, 0};
  if (::poll(&fd, 1, std::max<int>(0, static_cast<int>(left.count()))) <= 0) return;
  std::uniform_real_distribution<double> percent(0, 100);
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0) return;
    lastHeard_ = std::chrono::steady_clock::now();
    counts_.largestIn = std::max(counts_.largestIn, static_cast<std::size_t>(got));
    if (percent(receiveLoss_) < setup_.lossPercent) {
      ++counts_.dropped;
      continue;
    }
    const std::optional<UdptlDatagram> datagram = DecodeUdptl({buffer, static_cast<std::size_t>(got)});
    if (!datagram) {
      ++counts_.malformed;
      continue;
    }
    Take(*datagram, deliver);
  }
}

void CUdptlChannel::Take(const UdptlDatagram& datagram,
                         const std::function<void(std::uint16_t, std::span<const std::uint8_t>)>& deliver) {
  // The first datagram heard may carry IFPs whose own datagrams were lost.
  if (!expected_) expected_ = static_cast<std::uint16_t>(datagram.sequence - datagram.earlier.size());
  const auto ahead = static_cast<std::int16_t>(datagram.sequence - *expected_);
  if (ahead < 0) return;  // a duplicate, or late: delivered from redundancy or given up
  for (std::uint16_t sequence = *expected_; sequence != datagram.sequence; ++sequence) {
    const std::size_t back = static_cast<std::uint16_t>(datagram.sequence - sequence);
    if (back <= datagram.earlier.size()) {
      ++counts_.recovered;
      deliver(sequence, datagram.earlier[back - 1]);
    } else {
      ++counts_.missing;
    }
  }
  deliver(datagram.sequence, datagram.primary);
  expected_ = static_cast<std::uint16_t>(datagram.sequence + 1);
}

}  // namespace kestrel::faxsim
