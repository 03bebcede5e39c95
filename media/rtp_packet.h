// RTP packets (RFC 3550) as G.711 audio travels in them: the fixed header is
// read and written here, the payload is handed on as it came.
//
// Reads datagrams anyone on the network may send. Trusts nothing in them:
// every length (CSRC list, header extension, padding) is checked against the
// datagram's real size before it is used, and a packet whose parts do not fit
// is refused as a whole. Plain functions on caller-owned bytes; thread-safe.
// Failures are an empty optional: a bad datagram is dropped, never reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

inline constexpr std::size_t kRtpHeaderSize = 12;

struct RtpPacket {
  std::uint8_t payloadType = 0;
  bool marker = false;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t ssrc = 0;
  std::span<const std::uint8_t> payload;  // points into the datagram parsed
};

// The packet `datagram` holds, or nothing when it is not an RTP version 2
// packet whose header, extension and padding fit inside it.
[[nodiscard]] std::optional<RtpPacket> ParseRtpPacket(std::span<const std::uint8_t> datagram);

// Appends the datagram of `packet` (fixed header, no CSRC, no extension,
// then the payload) to `out`.
void WriteRtpPacket(const RtpPacket& packet, std::vector<std::uint8_t>& out);

// The distance from `from` to `to` in sequence numbers, across the wrap at
// 65536: positive when `to` comes later.
[[nodiscard]] inline int SequenceDistance(std::uint16_t from, std::uint16_t to) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
}

}  // namespace kestrel
