#include "media/rtp_audio_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <spandsp.h>
#include <string>

#include "media/rtp_packet.h"

namespace kestrel {

struct CRtpAudioLink::CAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

namespace {

Failure RtpFailure(const std::string& text) { return Failure{"RTP", text, 0}; }

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

Result<std::unique_ptr<CRtpAudioLink>> CRtpAudioLink::Open(int localPort, const AudioEndpoint& remote,
                                                           AudioCodec codec) {
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
    return RtpFailure("\"" + remote.address + "\" is not a numeric address");
  }
  peer->length = length;
  if (localPort <= 0 || localPort > 65535) return RtpFailure(std::to_string(localPort) + " is not a port");

  const int sock = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return RtpFailure("socket: " + ErrnoText());
  if (::bind(sock, reinterpret_cast<sockaddr*>(&local), length) != 0) {
    const std::string text = "port " + std::to_string(localPort) + ": " + ErrnoText();
    ::close(sock);
    return RtpFailure(text);
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const std::string text = "eventfd: " + ErrnoText();
    ::close(sock);
    return RtpFailure(text);
  }
  return std::unique_ptr<CRtpAudioLink>(new CRtpAudioLink(sock, wake, codec, std::move(peer)));
}

CRtpAudioLink::CRtpAudioLink(int socket, int wakeFd, AudioCodec codec, std::unique_ptr<CAddress> peer)
    : socket_(socket),
      wakeFd_(wakeFd),
      codec_(codec),
      peer_(std::move(peer)),
      lastHeard_(std::chrono::steady_clock::now()) {
  // RFC 3550 asks for random starting values, so that a stream is not
  // mistaken for an earlier one of the same port.
  std::random_device random;
  sequence_ = static_cast<std::uint16_t>(random());
  timestamp_ = random();
  ssrc_ = random();
}

CRtpAudioLink::~CRtpAudioLink() {
  ::close(socket_);
  ::close(wakeFd_);
}

void CRtpAudioLink::Send(std::span<const std::int16_t> samples) {
  frame_.resize(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i)
    frame_[i] = codec_ == AudioCodec::kPcma ? linear_to_alaw(samples[i]) : linear_to_ulaw(samples[i]);
  RtpPacket packet;
  packet.payloadType = static_cast<std::uint8_t>(codec_);
  packet.marker = first_;
  packet.sequence = sequence_;
  packet.timestamp = timestamp_;
  packet.ssrc = ssrc_;
  packet.payload = frame_;
  datagram_.clear();
  WriteRtpPacket(packet, datagram_);
  // A datagram that cannot go out now is as lost as one dropped on the way.
  (void)::sendto(socket_, datagram_.data(), datagram_.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&peer_->storage), peer_->length);
  first_ = false;
  Skip(samples.size());
}

void CRtpAudioLink::Skip(std::size_t samples) {
  ++sequence_;
  timestamp_ += static_cast<std::uint32_t>(samples);
}

void CRtpAudioLink::Receive(std::chrono::steady_clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
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
    Take(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(got)), from);
  }
}

void CRtpAudioLink::Take(std::span<const std::uint8_t> datagram, const CAddress& from) {
  const std::optional<RtpPacket> packet = ParseRtpPacket(datagram);
  if (!packet || packet->payloadType != static_cast<std::uint8_t>(codec_) || packet->payload.empty() ||
      packet->payload.size() > kMaxFrameSamples)
    return;
  *peer_ = from;
  lastHeard_ = std::chrono::steady_clock::now();
  jitter_.Push(packet->ssrc, packet->sequence, packet->payload);
}

bool CRtpAudioLink::NextFrame(std::vector<std::int16_t>& samples, bool drain) {
  if (!jitter_.Pop(frame_, drain)) return false;
  samples.resize(frame_.size());
  for (std::size_t i = 0; i < frame_.size(); ++i)
    samples[i] = codec_ == AudioCodec::kPcma ? alaw_to_linear(frame_[i]) : ulaw_to_linear(frame_[i]);
  return true;
}

void CRtpAudioLink::Wake() {
  const std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

}  // namespace kestrel
