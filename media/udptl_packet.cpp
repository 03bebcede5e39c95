#include "media/udptl_packet.h"

#include <string>

namespace kestrel {

namespace {

constexpr std::uint8_t kRecoveryRedundancy = 0x00;
constexpr std::uint8_t kRecoveryFec = 0x80;

Failure UdptlFailure(const std::string& text) { return Failure{"UDPTL", text, 0}; }

// Reads the bytes of a datagram front to back; every read says whether the
// bytes were there.
class CReader {
 public:
  explicit CReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Left() const { return bytes_.size() - at_; }
  bool Byte(std::uint8_t& out) {
    if (Left() < 1) return false;
    out = bytes_[at_++];
    return true;
  }
  // A length determinant of one or two octets; the fragmented form is refused.
  bool Length(std::size_t& out) {
    std::uint8_t first = 0;
    if (!Byte(first)) return false;
    if ((first & 0x80) == 0) {
      out = first;
      return true;
    }
    if ((first & 0xC0) == 0xC0) return false;
    std::uint8_t second = 0;
    if (!Byte(second)) return false;
    out = static_cast<std::size_t>(first & 0x3F) << 8 | second;
    return true;
  }
  // An IFP as an open type: its length, then that many bytes, at least one.
  bool Ifp(std::span<const std::uint8_t>& out) {
    std::size_t length = 0;
    if (!Length(length) || length == 0 || length > Left()) return false;
    out = bytes_.subspan(at_, length);
    at_ += length;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

std::size_t LengthSize(std::size_t length) { return length < 0x80 ? 1 : 2; }

void PutLength(std::size_t length, std::vector<std::uint8_t>& out) {
  if (length >= 0x80) out.push_back(static_cast<std::uint8_t>(0x80 | length >> 8));
  out.push_back(static_cast<std::uint8_t>(length));
}

void PutIfp(std::span<const std::uint8_t> ifp, std::vector<std::uint8_t>& out) {
  PutLength(ifp.size(), out);
  out.insert(out.end(), ifp.begin(), ifp.end());
}

}  // namespace

Result<UdptlPacket> ParseUdptlPacket(std::span<const std::uint8_t> datagram) {
  CReader reader(datagram);
  UdptlPacket packet;
  std::uint8_t high = 0;
  std::uint8_t low = 0;
  if (!reader.Byte(high) || !reader.Byte(low)) return UdptlFailure("a datagram shorter than a sequence number");
  packet.sequence = static_cast<std::uint16_t>(high << 8 | low);
  if (!reader.Ifp(packet.primary)) return UdptlFailure("the primary IFP does not fit the datagram");
  std::uint8_t recovery = 0;
  if (!reader.Byte(recovery)) return UdptlFailure("no error recovery after the primary IFP");
  if (recovery == kRecoveryFec) {
    packet.fec = true;
    return packet;
  }
  if (recovery != kRecoveryRedundancy) return UdptlFailure("an error recovery of unknown kind");
  std::size_t count = 0;
  if (!reader.Length(count)) return UdptlFailure("the count of redundant IFPs does not fit the datagram");
  // Each IFP takes at least two bytes; a count claiming more is a lie.
  if (count > reader.Left() / 2) return UdptlFailure("more redundant IFPs counted than the datagram holds");
  for (std::size_t i = 0; i < count; ++i) {
    std::span<const std::uint8_t> ifp;
    if (!reader.Ifp(ifp)) return UdptlFailure("a redundant IFP does not fit the datagram");
    if (packet.redundancy.size() < kMaxRedundancyRead) packet.redundancy.push_back(ifp);
  }
  return packet;
}

Result<std::vector<std::uint8_t>> WriteUdptlPacket(std::uint16_t sequence, std::span<const std::uint8_t> primary,
                                                   std::span<const std::vector<std::uint8_t>> previous,
                                                   std::size_t maxDatagram) {
  if (primary.empty() || primary.size() > kMaxIfpSize)
    return UdptlFailure("an IFP of " + std::to_string(primary.size()) + " bytes");
  // Sequence number, primary, recovery kind and a one-octet count.
  std::size_t size = 2 + LengthSize(primary.size()) + primary.size() + 2;
  if (size > maxDatagram)
    return UdptlFailure("an IFP of " + std::to_string(primary.size()) + " bytes does not fit a datagram of " +
                        std::to_string(maxDatagram));
  std::size_t redundant = 0;
  for (const std::vector<std::uint8_t>& ifp : previous) {
    if (ifp.empty() || ifp.size() > kMaxIfpSize || redundant >= 0x7F) break;
    const std::size_t more = LengthSize(ifp.size()) + ifp.size();
    if (size + more > maxDatagram) break;
    size += more;
    ++redundant;
  }
  std::vector<std::uint8_t> out;
  out.reserve(size);
  out.push_back(static_cast<std::uint8_t>(sequence >> 8));
  out.push_back(static_cast<std::uint8_t>(sequence));
  PutIfp(primary, out);
  out.push_back(kRecoveryRedundancy);
  PutLength(redundant, out);
  for (std::size_t i = 0; i < redundant; ++i) PutIfp(previous[i], out);
  return out;
}

}  // namespace kestrel
