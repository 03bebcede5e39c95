// UDPTL by itself: datagrams written and read byte for byte, malformed ones
// refused, and the stream's recovery of lost IFPs from redundancy, with
// duplicates, late datagrams, the wrap at 65536 and a peer numbering afresh.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/udptl_packet.h"
#include "media/udptl_stream.h"

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ifp(std::uint8_t n, std::size_t size = 3) { return Bytes(size, n); }

std::vector<std::uint16_t> Numbers(const std::vector<UdptlIfp>& ifps) {
  std::vector<std::uint16_t> numbers;
  for (const UdptlIfp& ifp : ifps) numbers.push_back(ifp.sequence);
  return numbers;
}

TEST(UdptlPacket, ReadsRedundancyLatestFirstAndFecForItsPrimaryOnly) {
  const Bytes redundant = {0x01, 0x02, 0x02, 0xAA, 0xBB, 0x00, 0x02, 0x01, 0xCC, 0x02, 0xDD, 0xEE};
  const Result<UdptlPacket> packet = ParseUdptlPacket(redundant);
  ASSERT_TRUE(packet) << packet.Describe();
  EXPECT_EQ(packet.Value().sequence, 0x0102);
  EXPECT_EQ(Bytes(packet.Value().primary.begin(), packet.Value().primary.end()), (Bytes{0xAA, 0xBB}));
  ASSERT_EQ(packet.Value().redundancy.size(), 2u);
  EXPECT_EQ(Bytes(packet.Value().redundancy[1].begin(), packet.Value().redundancy[1].end()), (Bytes{0xDD, 0xEE}));

  const Bytes fec = {0x00, 0x05, 0x01, 0x10, 0x80, 0x01, 0x03, 0x01, 0x01, 0x77};
  const Result<UdptlPacket> fecPacket = ParseUdptlPacket(fec);
  ASSERT_TRUE(fecPacket) << fecPacket.Describe();
  EXPECT_TRUE(fecPacket.Value().fec);
  EXPECT_EQ(fecPacket.Value().primary.size(), 1u);
}

TEST(UdptlPacket, WritesTheSameBytesItReads) {
  const Bytes previous[] = {{0xCC}, {0xDD, 0xEE}};
  const Result<Bytes> written = WriteUdptlPacket(0x0102, Bytes{0xAA, 0xBB}, previous, 400);
  ASSERT_TRUE(written) << written.Describe();
  EXPECT_EQ(written.Value(), (Bytes{0x01, 0x02, 0x02, 0xAA, 0xBB, 0x00, 0x02, 0x01, 0xCC, 0x02, 0xDD, 0xEE}));
}

TEST(UdptlPacket, RefusesDatagramsWhosePartsDoNotFit) {
  const Bytes cases[] = {
      {},                                                            // nothing
      {0x00},                                                        // half a number
      {0x00, 0x01, 0x05, 0x01, 0x02},                                // primary longer than the datagram
      {0x00, 0x01, 0x00, 0x00, 0x00},                                // empty primary
      {0x00, 0x01, 0x01, 0x06},                                      // no recovery
      {0x00, 0x01, 0x01, 0x06, 0x40, 0x00},                          // recovery of no known kind
      {0x00, 0x01, 0x01, 0x06, 0x00, 0x7F, 0x01, 0x01},              // more redundant IFPs counted than held
      {0x00, 0x01, 0x01, 0x06, 0x00, 0x02, 0x01, 0x01, 0x03, 0x01},  // the last redundant IFP cut short
      {0x00, 0x01, 0xC1, 0x06},                                      // a fragmented length
      {0x00, 0x01, 0x80},                                            // a two-octet length cut short
  };
  for (const Bytes& datagram : cases) EXPECT_FALSE(ParseUdptlPacket(datagram)) << ::testing::PrintToString(datagram);
}

TEST(UdptlPacket, DropsTheOldestRedundancyToFitAndRefusesAnIfpThatAloneDoesNot) {
  const Bytes previous[] = {Ifp(1, 10), Ifp(2, 10), Ifp(3, 10)};
  // number 2 + primary 11 + recovery 2 = 15; each redundant IFP 11 more.
  const Result<Bytes> two = WriteUdptlPacket(7, Ifp(0, 10), previous, 15 + 2 * 11 + 10);
  ASSERT_TRUE(two) << two.Describe();
  EXPECT_EQ(two.Value().size(), 15u + 2 * 11);
  EXPECT_EQ(ParseUdptlPacket(two.Value()).Value().redundancy.size(), 2u);
  EXPECT_FALSE(WriteUdptlPacket(7, Ifp(0, 10), previous, 14));
  EXPECT_FALSE(WriteUdptlPacket(7, Bytes{}, previous, 400));
}

// Feeds datagrams of a redundant stream in the order given, by index.
std::vector<UdptlIfp> Deliver(const std::vector<Bytes>& datagrams, const std::vector<int>& order,
                              CUdptlReceiver& receiver) {
  std::vector<UdptlIfp> out;
  for (const int index : order) EXPECT_TRUE(receiver.Take(datagrams[static_cast<std::size_t>(index)], out));
  return out;
}

std::vector<Bytes> Stream(T38ErrorCorrection correction, int count) {
  T38Parameters peer;
  peer.errorCorrection = correction;
  CUdptlSender sender(peer);
  std::vector<Bytes> datagrams;
  for (int n = 0; n < count; ++n) datagrams.push_back(sender.Next(Ifp(static_cast<std::uint8_t>(n))).Value());
  return datagrams;
}

TEST(UdptlStream, LostDatagramsComeBackFromRedundancyInOrder) {
  const std::vector<Bytes> datagrams = Stream(T38ErrorCorrection::kRedundancy, 10);
  CUdptlReceiver receiver;
  const std::vector<UdptlIfp> ifps = Deliver(datagrams, {0, 1, 4, 5, 6, 9}, receiver);
  EXPECT_EQ(Numbers(ifps), (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  for (const UdptlIfp& ifp : ifps) EXPECT_EQ(ifp.bytes, Ifp(static_cast<std::uint8_t>(ifp.sequence)));
  EXPECT_EQ(receiver.Recovered(), 4);
  EXPECT_EQ(receiver.Lost(), 0);
}

TEST(UdptlStream, DuplicatesAndLateDatagramsAreDroppedNotDeliveredTwice) {
  struct Case {
    T38ErrorCorrection correction;
    std::vector<int> order;
    std::vector<std::uint16_t> delivered;
    int lost;
    int dropped;
  };
  const Case cases[] = {
      {T38ErrorCorrection::kRedundancy, {0, 0, 2, 1, 3, 3}, {0, 1, 2, 3}, 0, 3},
      {T38ErrorCorrection::kNone, {0, 0, 2, 1, 3, 3}, {0, 2, 3}, 1, 3},
      {T38ErrorCorrection::kNone, {0, 1, 2, 1, 0, 3}, {0, 1, 2, 3}, 0, 2},
  };
  for (const Case& c : cases) {
    CUdptlReceiver receiver;
    EXPECT_EQ(Numbers(Deliver(Stream(c.correction, 4), c.order, receiver)), c.delivered);
    EXPECT_EQ(receiver.Lost(), c.lost);
    EXPECT_EQ(receiver.Dropped(), c.dropped);
  }
}

TEST(UdptlStream, NumbersWrapAndAPeerNumberingAfreshIsFollowed) {
  CUdptlReceiver receiver;
  std::vector<UdptlIfp> out;
  for (const std::uint16_t sequence : {65534, 65535, 0, 1, 20000, 20001}) {
    const Bytes datagram = WriteUdptlPacket(sequence, Ifp(1), {}, 400).Value();
    EXPECT_TRUE(receiver.Take(datagram, out));
  }
  // 20000 is far ahead: what lies between is lost, and the stream goes on.
  EXPECT_EQ(Numbers(out), (std::vector<std::uint16_t>{65534, 65535, 0, 1, 20000, 20001}));
  EXPECT_EQ(receiver.Lost(), 20000 - 2);
  for (const std::uint16_t sequence : {5, 6}) {
    const Bytes datagram = WriteUdptlPacket(sequence, Ifp(1), {}, 400).Value();
    EXPECT_TRUE(receiver.Take(datagram, out));
  }
  EXPECT_EQ(out.back().sequence, 6) << "a peer numbering afresh far behind is followed";
}

}  // namespace
}  // namespace kestrel
