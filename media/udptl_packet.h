// UDPTL packets as T.38 fax travels in them over UDP: a sequence number, the
// primary IFP packet, then error recovery, either the previous IFPs again
// (redundancy) or forward error correction. Written and read here; the IFPs
// themselves are SpanDSP's business.
//
// Reads datagrams anyone on the network may send. Trusts nothing in them:
// every length determinant and count is checked against the bytes left
// before it is used, and a packet whose parts do not fit is refused as a
// whole. A packet with FEC is read for its primary IFP only. Plain functions
// on caller-owned bytes; thread-safe. Failures are Result (core/result.h),
// step "UDPTL".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.h"

namespace kestrel {

// Lengths from 16384 up need fragments, which no IFP of a fax comes near.
inline constexpr std::size_t kMaxIfpSize = 16383;
// Redundancy beyond this many IFPs in one datagram is not read.
inline constexpr std::size_t kMaxRedundancyRead = 16;

struct UdptlPacket {
  std::uint16_t sequence = 0;
  std::span<const std::uint8_t> primary;                  // points into the datagram parsed
  std::vector<std::span<const std::uint8_t>> redundancy;  // [0] is sequence - 1, [1] sequence - 2, ...
  bool fec = false;                                       // recovery by FEC, not read
};

// The packet `datagram` holds. Fails when a length runs past the end, an IFP
// is empty, or the recovery is neither redundancy nor FEC.
[[nodiscard]] Result<UdptlPacket> ParseUdptlPacket(std::span<const std::uint8_t> datagram);

// The datagram of IFP `primary` numbered `sequence`, with as many of
// `previous` (the IFPs before it, latest first) as redundancy as fit within
// `maxDatagram` bytes; the oldest go first. Fails when `primary` alone does
// not fit or an IFP is empty or larger than kMaxIfpSize.
[[nodiscard]] Result<std::vector<std::uint8_t>> WriteUdptlPacket(std::uint16_t sequence,
                                                                 std::span<const std::uint8_t> primary,
                                                                 std::span<const std::vector<std::uint8_t>> previous,
                                                                 std::size_t maxDatagram);

}  // namespace kestrel
