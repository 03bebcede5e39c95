// CUdptlChannel: the test sender's own UDPTL, written apart from Kestrel's so
// the two do not share a misreading. Each IFP goes out in a datagram of its
// own sequence number, carrying the last few IFPs again as redundancy, never
// above the receiver's largest datagram; IFPs come in handed over once each,
// in sequence order, recovered from later datagrams' redundancy when their
// own was lost, duplicates and late ones dropped. It can lose a seeded share
// of the datagrams in both directions (each direction its own generator, so a
// seed names one pattern of loss whatever the timing).
//
// Reads datagrams from anyone: each is decoded within its own bytes
// (DecodeUdptl); one that does not decode is counted and ignored. Failures
// are Result (core/result.h), step "UDPTL". Not thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"

namespace kestrel::faxsim {

struct UdptlDatagram {
  std::uint16_t sequence = 0;
  std::vector<std::uint8_t> primary;
  // The IFPs of sequence-1, sequence-2, ... (newest first); empty when the
  // datagram carries forward error correction instead.
  std::vector<std::vector<std::uint8_t>> earlier;
  bool fec = false;
};

// Encodes `sequence` with `primary` and as many of `earlier` (newest first,
// at most `redundancy`) as keep the datagram within `maxSize` (0: no limit).
// Sets `carried` to how many went in.
[[nodiscard]] std::vector<std::uint8_t> EncodeUdptl(std::uint16_t sequence, std::span<const std::uint8_t> primary,
                                                    const std::vector<std::vector<std::uint8_t>>& earlier,
                                                    std::size_t redundancy, std::size_t maxSize,
                                                    std::size_t& carried);
// Nothing when the bytes are not one whole datagram.
[[nodiscard]] std::optional<UdptlDatagram> DecodeUdptl(std::span<const std::uint8_t> bytes);

struct UdptlSetup {
  int localPort = 0;
  AudioEndpoint remote;
  std::size_t redundancy = 3;  // earlier IFPs carried in each datagram; 0 for t38UDPNoEC
  std::size_t maxDatagram = 0;  // the receiver's T38FaxMaxDatagram; 0: not stated
  double lossPercent = 0;
  std::uint32_t seed = 1;
};

struct UdptlCounts {
  std::uint64_t sent = 0;       // datagrams, lost on purpose or not
  std::uint64_t dropped = 0;    // datagrams lost on purpose, both directions
  std::uint64_t recovered = 0;  // IFPs taken from redundancy
  std::uint64_t missing = 0;    // IFPs never received
  std::uint64_t malformed = 0;  // datagrams that did not decode
  std::uint64_t oversize = 0;   // IFPs that alone would not fit the receiver's datagram (not sent)
  std::size_t largestIn = 0;    // bytes of the largest datagram received
};

class CUdptlChannel {
 public:
  // Binds `localPort`; fails when it cannot or the remote is not numeric.
  [[nodiscard]] static Result<std::unique_ptr<CUdptlChannel>> Open(const UdptlSetup& setup);
  ~CUdptlChannel();
  CUdptlChannel(const CUdptlChannel&) = delete;
  CUdptlChannel& operator=(const CUdptlChannel&) = delete;

  // Sends `ifp` as the next IFP, `copies` times (copies of one datagram,
  // asked for by SpanDSP when there is no redundancy to carry it again).
  void Send(std::span<const std::uint8_t> ifp, int copies);
  // Waits until a datagram arrives or `until` passes, then takes every
  // datagram waiting, handing each new IFP to `deliver`.
  void Receive(std::chrono::steady_clock::time_point until,
               const std::function<void(std::uint16_t sequence, std::span<const std::uint8_t> ifp)>& deliver);
  [[nodiscard]] std::chrono::steady_clock::time_point LastHeard() const { return lastHeard_; }
  [[nodiscard]] const UdptlCounts& Counts() const { return counts_; }

 private:
  struct CAddress;
  CUdptlChannel(int socket, std::unique_ptr<CAddress> peer, const UdptlSetup& setup);
  void Take(const UdptlDatagram& datagram,
            const std::function<void(std::uint16_t, std::span<const std::uint8_t>)>& deliver);

  int socket_;
  std::unique_ptr<CAddress> peer_;
  UdptlSetup setup_;
  std::uint16_t sequence_ = 0;
  std::vector<std::vector<std::uint8_t>> history_;  // newest first
  std::optional<std::uint16_t> expected_;           // the next sequence number due in
  std::mt19937 sendLoss_;
  std::mt19937 receiveLoss_;
  UdptlCounts counts_;
  std::chrono::steady_clock::time_point lastHeard_;
};

}  // namespace kestrel::faxsim
