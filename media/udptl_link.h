// CUdptlLink: one call's T.38 over UDPTL on a UDP socket: IFPs out, numbered,
// with redundancy as the peer asked (udptl_stream.h), never in a datagram
// above the peer's T38FaxMaxDatagram; the peer's IFPs in, in order, lost ones
// recovered where later datagrams repeat them. Datagrams go to where the
// peer's UDPTL comes from once it comes (udp_socket.h).
//
// Reads datagrams from anyone: only those that parse as UDPTL are taken (and
// only they make their sender the peer). Failures are Result (core/result.h),
// step "UDPTL". Wake may be called from any thread; everything else belongs
// to the one thread running the call.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/t38_parameters.h"
#include "media/udp_socket.h"
#include "media/udptl_stream.h"

namespace kestrel {

class CUdptlLink {
 public:
  // Binds `localPort`; `peer` is the session as the peer's SDP states it.
  [[nodiscard]] static Result<std::unique_ptr<CUdptlLink>> Open(int localPort, const AudioEndpoint& remote,
                                                                const T38Parameters& peer);
  CUdptlLink(const CUdptlLink&) = delete;
  CUdptlLink& operator=(const CUdptlLink&) = delete;

  // Sends `ifp` as the next IFP, the same datagram `count` times (SpanDSP
  // repeats what it must not lose). False when the IFP alone is larger than
  // the peer's datagram size; nothing goes out then.
  bool Send(std::span<const std::uint8_t> ifp, int count = 1);
  // Waits until a datagram arrives, Wake is called or `until` passes, then
  // takes every datagram waiting.
  void Receive(std::chrono::steady_clock::time_point until);
  // The next IFP received, in order.
  [[nodiscard]] bool NextIfp(UdptlIfp& ifp);
  // When the last UDPTL datagram arrived (the opening time until then).
  [[nodiscard]] std::chrono::steady_clock::time_point LastHeard() const { return lastHeard_; }
  [[nodiscard]] const CUdptlReceiver& Incoming() const { return receiver_; }
  [[nodiscard]] std::size_t MaxDatagram() const { return sender_.MaxDatagram(); }
  void Wake() { socket_->Wake(); }

 private:
  CUdptlLink(std::unique_ptr<CUdpSocket> socket, const T38Parameters& peer);

  std::unique_ptr<CUdpSocket> socket_;
  CUdptlSender sender_;
  CUdptlReceiver receiver_;
  std::vector<UdptlIfp> received_;
  std::size_t next_ = 0;
  std::chrono::steady_clock::time_point lastHeard_;
};

}  // namespace kestrel
