#include "media/udptl_stream.h"

#include <algorithm>

#include "media/rtp_packet.h"
#include "media/udptl_packet.h"

namespace kestrel {

CUdptlSender::CUdptlSender(const T38Parameters& peer)
    : redundancy_(peer.errorCorrection == T38ErrorCorrection::kNone ? 0 : kUdptlRedundancy),
      maxDatagram_(peer.maxDatagram > 0 ? static_cast<std::size_t>(peer.maxDatagram) : kDefaultMaxDatagram) {}

Result<std::vector<std::uint8_t>> CUdptlSender::Next(std::span<const std::uint8_t> ifp) {
  Result<std::vector<std::uint8_t>> datagram = WriteUdptlPacket(sequence_, ifp, history_, maxDatagram_);
  if (!datagram) return datagram;
  ++sequence_;
  if (redundancy_ > 0) {
    if (history_.size() == redundancy_) history_.pop_back();
    history_.insert(history_.begin(), std::vector<std::uint8_t>(ifp.begin(), ifp.end()));
  }
  return datagram;
}

bool CUdptlReceiver::Take(std::span<const std::uint8_t> datagram, std::vector<UdptlIfp>& out) {
  const Result<UdptlPacket> parsed = ParseUdptlPacket(datagram);
  if (!parsed) return false;
  const UdptlPacket& packet = parsed.Value();
  const int carried = static_cast<int>(packet.redundancy.size());
  int ahead = SequenceDistance(expected_, packet.sequence);
  if (!started_ || ahead < -kUdptlRestartDistance) {
    // What this datagram repeats is all we can still have of what came before.
    started_ = true;
    expected_ = static_cast<std::uint16_t>(packet.sequence - carried);
    ahead = carried;
  }
  if (ahead < 0) {
    ++dropped_;
    return true;
  }
  if (ahead > carried) lost_ += ahead - carried;
  for (int back = std::min(ahead, carried); back > 0; --back) {
    const std::span<const std::uint8_t> ifp = packet.redundancy[static_cast<std::size_t>(back - 1)];
    out.push_back({static_cast<std::uint16_t>(packet.sequence - back), {ifp.begin(), ifp.end()}});
    ++recovered_;
  }
  out.push_back({packet.sequence, {packet.primary.begin(), packet.primary.end()}});
  expected_ = static_cast<std::uint16_t>(packet.sequence + 1);
  return true;
}

}  // namespace kestrel
