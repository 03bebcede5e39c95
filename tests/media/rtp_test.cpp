// The RTP framing and the jitter buffer: a packet written reads back, a
// packet whose lengths do not fit is refused, and frames come out in order
// with a missing one skipped once later frames wait.
#include <gtest/gtest.h>

#include "media/jitter_buffer.h"
#include "media/rtp_packet.h"

namespace kestrel {
namespace {

TEST(RtpPacket, WrittenPacketReadsBack) {
  const std::vector<std::uint8_t> audio = {1, 2, 3, 4};
  RtpPacket packet{8, true, 65535, 0xDEADBEEF, 0x01020304, audio};
  std::vector<std::uint8_t> datagram;
  WriteRtpPacket(packet, datagram);
  const auto read = ParseRtpPacket(datagram);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->payloadType, 8);
  EXPECT_TRUE(read->marker);
  EXPECT_EQ(read->sequence, 65535);
  EXPECT_EQ(read->timestamp, 0xDEADBEEF);
  EXPECT_EQ(read->ssrc, 0x01020304u);
  EXPECT_EQ(std::vector<std::uint8_t>(read->payload.begin(), read->payload.end()), audio);
}

TEST(RtpPacket, LengthsThatDoNotFitAreRefused) {
  const std::vector<std::uint8_t> header = {0x80, 0x08, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  struct Case {
    const char* what;
    std::uint8_t first;
    std::vector<std::uint8_t> tail;
  } cases[] = {
      {"version 1", 0x40, {9}},
      {"CSRC list beyond the end", 0x82, {0, 0, 0, 0}},
      {"extension beyond the end", 0x90, {0xBE, 0xDE, 0, 2, 0, 0, 0, 0}},
      {"padding longer than the payload", 0xA0, {1, 9}},
      {"padding of zero", 0xA0, {1, 0}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> datagram = header;
    datagram[0] = c.first;
    datagram.insert(datagram.end(), c.tail.begin(), c.tail.end());
    EXPECT_FALSE(ParseRtpPacket(datagram)) << c.what;
  }
  EXPECT_FALSE(ParseRtpPacket(std::span(header).first(11))) << "short header";
}

TEST(JitterBuffer, ReordersAndSkipsAFrameThatNeverComes) {
  CJitterBuffer buffer(2);
  const auto push = [&](std::uint16_t sequence) {
    const std::uint8_t byte = static_cast<std::uint8_t>(sequence);
    buffer.Push(7, sequence, std::span(&byte, 1));
  };
  std::vector<std::uint8_t> frame;
  std::vector<int> out;
  // 65535 then 0 across the wrap, 1 lost, 3 before 2, 0 repeated, 65535 late.
  for (std::uint16_t sequence : {65535, 0, 3, 2, 0, 65535, 4, 5}) {
    push(sequence);
    while (buffer.Pop(frame)) out.push_back(frame[0]);
  }
  while (buffer.Pop(frame, true)) out.push_back(frame[0]);
  EXPECT_EQ(out, (std::vector<int>{255, 0, 2, 3, 4, 5}));
  EXPECT_EQ(buffer.Skipped(), 1u);
}

}  // namespace
}  // namespace kestrel
