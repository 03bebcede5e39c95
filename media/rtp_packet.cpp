#include "media/rtp_packet.h"

namespace kestrel {

namespace {

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

std::uint32_t Read32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void Write16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Write32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Write16(out, static_cast<std::uint16_t>(v >> 16));
  Write16(out, static_cast<std::uint16_t>(v));
}

}  // namespace

std::optional<RtpPacket> ParseRtpPacket(std::span<const std::uint8_t> datagram) {
  const std::size_t size = datagram.size();
  if (size < kRtpHeaderSize) return std::nullopt;
  const std::uint8_t* p = datagram.data();
  if (p[0] >> 6 != 2) return std::nullopt;
  const bool padding = p[0] & 0x20;
  const bool extension = p[0] & 0x10;
  const std::size_t csrcCount = p[0] & 0x0F;

  std::size_t start = kRtpHeaderSize + 4 * csrcCount;
  if (start > size) return std::nullopt;
  if (extension) {
    if (size - start < 4) return std::nullopt;
    const std::size_t words = Read16(p + start + 2);
    if ((size - start - 4) / 4 < words) return std::nullopt;
    start += 4 + 4 * words;
  }
  std::size_t end = size;
  if (padding) {
    const std::size_t pad = p[size - 1];
    if (pad == 0 || pad > end - start) return std::nullopt;
    end -= pad;
  }

  RtpPacket packet;
  packet.marker = p[1] & 0x80;
  packet.payloadType = p[1] & 0x7F;
  packet.sequence = Read16(p + 2);
  packet.timestamp = Read32(p + 4);
  packet.ssrc = Read32(p + 8);
  packet.payload = datagram.subspan(start, end - start);
  return packet;
}

void WriteRtpPacket(const RtpPacket& packet, std::vector<std::uint8_t>& out) {
  out.push_back(0x80);
  out.push_back(static_cast<std::uint8_t>((packet.marker ? 0x80 : 0) | (packet.payloadType & 0x7F)));
  Write16(out, packet.sequence);
  Write32(out, packet.timestamp);
  Write32(out, packet.ssrc);
  out.insert(out.end(), packet.payload.begin(), packet.payload.end());
}

}  // namespace kestrel
