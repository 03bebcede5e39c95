// fuzz_rtp_packet: any bytes as RTP datagrams, as anyone on the network may
// send them to a call's media port. A packet that parses must have its
// payload inside the datagram and write back to a packet that reads the same;
// the datagram, cut into pieces, also goes through the jitter buffer.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "media/jitter_buffer.h"
#include "media/rtp_packet.h"
#include "tests/fuzz/fuzz_support.h"

using kestrel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  if (const auto packet = kestrel::ParseRtpPacket(datagram)) {
    Check(packet->payload.data() >= data && packet->payload.data() + packet->payload.size() <= data + size,
          "payload outside the datagram");
    std::vector<std::uint8_t> written;
    kestrel::WriteRtpPacket(*packet, written);
    const auto again = kestrel::ParseRtpPacket(written);
    Check(again && again->sequence == packet->sequence && again->timestamp == packet->timestamp &&
              again->ssrc == packet->ssrc && again->payloadType == packet->payloadType &&
              again->marker == packet->marker &&
              std::equal(again->payload.begin(), again->payload.end(), packet->payload.begin(), packet->payload.end()),
          "a packet written does not read back the same");
  }

  // Every 4 bytes a frame: SSRC choice, sequence number, payload length.
  kestrel::CJitterBuffer buffer(3);
  std::vector<std::uint8_t> frame;
  std::size_t held = 0;
  for (std::size_t at = 0; at + 4 <= size; at += 4) {
    const std::uint16_t sequence = static_cast<std::uint16_t>(data[at + 1] << 8 | data[at + 2]);
    buffer.Push(data[at] & 1, sequence, datagram.subspan(at, data[at + 3] % 4 + 1));
    ++held;
    while (buffer.Pop(frame)) {
      Check(!frame.empty() && frame.size() <= 4, "a frame not as pushed");
      Check(held-- > 0, "more frames out than in");
    }
  }
  while (buffer.Pop(frame, true)) Check(held-- > 0, "more frames out than in");
  return 0;
}
