// CRtpAudioLink: one call's G.711 audio over RTP on a UDP socket: 20 ms
// frames of 8 kHz samples out, the peer's frames in through a jitter buffer,
// decoded. The frames go to the address the peer's RTP comes from, to the
// address given at the start until the first packet of the agreed codec
// arrives (symmetric RTP).
//
// Reads datagrams from anyone: only RTP packets that parse (rtp_packet.h)
// and carry the agreed payload type, with at most kMaxFrameSamples samples,
// are taken. Failures are Status/Result (core/result.h). Wake may be called
// from any thread; everything else belongs to the one thread running the call.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/result.h"
#include "media/audio_fax_call.h"
#include "media/jitter_buffer.h"
#include "media/udp_socket.h"

namespace kestrel {

inline constexpr int kAudioSampleRate = 8000;
inline constexpr std::size_t kFrameSamples = 160;  // 20 ms
inline constexpr std::chrono::milliseconds kFrameTime{20};
inline constexpr std::size_t kMaxFrameSamples = 480;
inline constexpr std::size_t kJitterDepth = 3;

class CRtpAudioLink {
 public:
  // Binds `localPort` (on every address of the remote's family). Fails with
  // step "RTP".
  [[nodiscard]] static Result<std::unique_ptr<CRtpAudioLink>> Open(int localPort, const AudioEndpoint& remote,
                                                                   AudioCodec codec);
  CRtpAudioLink(const CRtpAudioLink&) = delete;
  CRtpAudioLink& operator=(const CRtpAudioLink&) = delete;

  // Sends `samples` as the next packet.
  void Send(std::span<const std::int16_t> samples);
  // Counts `samples` as sent without sending them (a packet lost on the way).
  void Skip(std::size_t samples);
  // Waits until a datagram arrives, Wake is called or `until` passes, then
  // takes every datagram waiting.
  void Receive(std::chrono::steady_clock::time_point until);
  // The next frame due from the jitter buffer, decoded; `drain` releases
  // what is held once the stream has ended.
  [[nodiscard]] bool NextFrame(std::vector<std::int16_t>& samples, bool drain = false);
  // When the last packet of the agreed codec arrived (the opening time until then).
  [[nodiscard]] std::chrono::steady_clock::time_point LastHeard() const { return lastHeard_; }
  void Wake() { socket_->Wake(); }

 private:
  CRtpAudioLink(std::unique_ptr<CUdpSocket> socket, AudioCodec codec);
  bool Take(std::span<const std::uint8_t> datagram);

  std::unique_ptr<CUdpSocket> socket_;
  AudioCodec codec_;
  CJitterBuffer jitter_{kJitterDepth};
  std::vector<std::uint8_t> frame_;
  std::vector<std::uint8_t> datagram_;
  std::uint16_t sequence_;
  std::uint32_t timestamp_;
  std::uint32_t ssrc_;
  bool first_ = true;
  std::chrono::steady_clock::time_point lastHeard_;
};

}  // namespace kestrel
