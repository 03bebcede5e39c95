// fuzz_udptl_packet: any bytes as UDPTL datagrams, as anyone on the network
// may send them to a call's T.38 port. A packet that parses must have its
// IFPs inside the datagram and write back to a packet that reads the same;
// the bytes, cut into datagrams, also go through the stream's receiver,
// which must deliver each IFP number at most once and in order.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "media/rtp_packet.h"
#include "media/udptl_packet.h"
#include "media/udptl_stream.h"
#include "tests/fuzz/fuzz_support.h"

using kestrel::fuzz::Check;

namespace {

bool Inside(std::span<const std::uint8_t> part, const std::uint8_t* data, std::size_t size) {
  return part.data() >= data && part.data() + part.size() <= data + size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  if (const auto packet = kestrel::ParseUdptlPacket(datagram)) {
    const kestrel::UdptlPacket& read = packet.Value();
    Check(!read.primary.empty() && Inside(read.primary, data, size), "primary IFP outside the datagram");
    std::vector<std::vector<std::uint8_t>> previous;
    for (const auto ifp : read.redundancy) {
      Check(!ifp.empty() && Inside(ifp, data, size), "redundant IFP outside the datagram");
      previous.emplace_back(ifp.begin(), ifp.end());
    }
    const auto written = kestrel::WriteUdptlPacket(read.sequence, read.primary, previous, 65535);
    Check(written.Ok(), "a packet read cannot be written");
    const auto again = kestrel::ParseUdptlPacket(written.Value());
    Check(again && again.Value().sequence == read.sequence && std::ranges::equal(again.Value().primary, read.primary) &&
              again.Value().redundancy.size() == (read.fec ? 0 : read.redundancy.size()),
          "a packet written does not read back the same");
  }

  // The first byte of each piece gives its length.
  kestrel::CUdptlReceiver receiver;
  std::vector<kestrel::UdptlIfp> ifps;
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at] % 32 + 1, size - at);
    ifps.clear();
    receiver.Take(datagram.subspan(at, length), ifps);
    for (std::size_t i = 1; i < ifps.size(); ++i)
      Check(kestrel::SequenceDistance(ifps[i - 1].sequence, ifps[i].sequence) == 1, "IFPs out of order");
    at += length;
  }
  return 0;
}
