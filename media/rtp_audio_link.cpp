#include "media/rtp_audio_link.h"

#include <random>
#include <spandsp.h>

#include "media/rtp_packet.h"

namespace kestrel {

Result<std::unique_ptr<CRtpAudioLink>> CRtpAudioLink::Open(int localPort, const AudioEndpoint& remote,
                                                           AudioCodec codec) {
  Result<std::unique_ptr<CUdpSocket>> socket = CUdpSocket::Open(localPort, remote, "RTP");
  if (!socket) return socket.Error();
  return std::unique_ptr<CRtpAudioLink>(new CRtpAudioLink(std::move(*socket), codec));
}

CRtpAudioLink::CRtpAudioLink(std::unique_ptr<CUdpSocket> socket, AudioCodec codec)
    : socket_(std::move(socket)), codec_(codec), lastHeard_(std::chrono::steady_clock::now()) {
  // RFC 3550 asks for random starting values, so that a stream is not
  // mistaken for an earlier one of the same port.
  std::random_device random;
  sequence_ = static_cast<std::uint16_t>(random());
  timestamp_ = random();
  ssrc_ = random();
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
  socket_->Send(datagram_);
  first_ = false;
  Skip(samples.size());
}

void CRtpAudioLink::Skip(std::size_t samples) {
  ++sequence_;
  timestamp_ += static_cast<std::uint32_t>(samples);
}

void CRtpAudioLink::Receive(std::chrono::steady_clock::time_point until) {
  socket_->Receive(until, [this](std::span<const std::uint8_t> datagram) { return Take(datagram); });
}

bool CRtpAudioLink::Take(std::span<const std::uint8_t> datagram) {
  const std::optional<RtpPacket> packet = ParseRtpPacket(datagram);
  if (!packet || packet->payloadType != static_cast<std::uint8_t>(codec_) || packet->payload.empty() ||
      packet->payload.size() > kMaxFrameSamples)
    return false;
  lastHeard_ = std::chrono::steady_clock::now();
  jitter_.Push(packet->ssrc, packet->sequence, packet->payload);
  return true;
}

bool CRtpAudioLink::NextFrame(std::vector<std::int16_t>& samples, bool drain) {
  if (!jitter_.Pop(frame_, drain)) return false;
  samples.resize(frame_.size());
  for (std::size_t i = 0; i < frame_.size(); ++i)
    samples[i] = codec_ == AudioCodec::kPcma ? alaw_to_linear(frame_[i]) : ulaw_to_linear(frame_[i]);
  return true;
}

}  // namespace kestrel
