// The two directions of a UDPTL stream, without the socket: CUdptlSender
// numbers the IFPs going out and repeats the last few in each datagram as
// redundancy, within the peer's datagram size; CUdptlReceiver puts the IFPs
// coming in back in order, recovers lost ones from the redundancy of later
// datagrams, and drops duplicates and datagrams that come too late.
//
// The receiver reads datagrams anyone may send (udptl_packet.h bounds every
// read); a datagram far behind the stream is taken as the peer numbering
// afresh, so one forged number cannot silence the call for long. Plain
// objects owned by one thread. Failures are Result (core/result.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.h"
#include "core/t38_parameters.h"

namespace kestrel {

// IFPs repeated in each datagram when the peer asked for redundancy: at 5 %
// random loss, four datagrams in a row must go before an IFP is lost.
inline constexpr std::size_t kUdptlRedundancy = 3;
// The datagram size when the peer states no T38FaxMaxDatagram: small enough
// for any path's MTU and for the small buffers of older gateways, large
// enough for an image IFP of SpanDSP's with its redundancy at 14400 bit/s.
inline constexpr std::size_t kDefaultMaxDatagram = 400;
// A datagram this many numbers behind the stream means the peer restarted.
inline constexpr int kUdptlRestartDistance = 64;

struct UdptlIfp {
  std::uint16_t sequence = 0;
  std::vector<std::uint8_t> bytes;
};

class CUdptlSender {
 public:
  // Redundancy and datagram size as `peer` (the peer's SDP) asks for them;
  // a peer asking for FEC gets redundancy, which is what we answer with.
  explicit CUdptlSender(const T38Parameters& peer);

  // The datagram carrying `ifp` as the next IFP. Fails (step "UDPTL") when
  // `ifp` alone does not fit the peer's datagram size; the number is then
  // not used.
  [[nodiscard]] Result<std::vector<std::uint8_t>> Next(std::span<const std::uint8_t> ifp);
  std::size_t MaxDatagram() const { return maxDatagram_; }

 private:
  std::size_t redundancy_;
  std::size_t maxDatagram_;
  std::uint16_t sequence_ = 0;
  std::vector<std::vector<std::uint8_t>> history_;  // latest first
};

class CUdptlReceiver {
 public:
  // Takes one datagram: appends to `out`, in order, the IFPs it brings that
  // were not had before (those recovered from its redundancy first). False
  // when the datagram is not a UDPTL packet.
  bool Take(std::span<const std::uint8_t> datagram, std::vector<UdptlIfp>& out);

  // IFPs lost for good, recovered from redundancy, datagrams dropped as
  // duplicates or late.
  int Lost() const { return lost_; }
  int Recovered() const { return recovered_; }
  int Dropped() const { return dropped_; }

 private:
  bool started_ = false;
  std::uint16_t expected_ = 0;
  int lost_ = 0;
  int recovered_ = 0;
  int dropped_ = 0;
};

}  // namespace kestrel
