// CUdpSocket: the one UDP socket of a call's media (RTP audio or UDPTL),
// bound to the local port the signalling agreed and sending to the peer.
// Symmetric: once a datagram the caller accepts arrives, what follows goes
// to where it came from (peers behind NAT); until then, to the address the
// signalling gave.
//
// Reads datagrams from anyone; it hands them on as bytes and leaves judging
// them to its caller. Failures are Result (core/result.h) with the step the
// caller names. Wake may be called from any thread; everything else belongs
// to the one thread running the call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "core/audio_endpoint.h"
#include "core/result.h"

namespace kestrel {

class CUdpSocket {
 public:
  // Binds `localPort` on every address of the remote's family. Fails (with
  // `step`) when the remote address is not numeric or the port cannot be had.
  [[nodiscard]] static Result<std::unique_ptr<CUdpSocket>> Open(int localPort, const AudioEndpoint& remote,
                                                                const std::string& step);
  ~CUdpSocket();
  CUdpSocket(const CUdpSocket&) = delete;
  CUdpSocket& operator=(const CUdpSocket&) = delete;

  // Sends `datagram` to the peer; one that cannot go out now is as lost as
  // one dropped on the way.
  void Send(std::span<const std::uint8_t> datagram);
  // Waits until a datagram arrives, Wake is called or `until` passes, then
  // hands every datagram waiting to `take`; a datagram `take` accepts (true)
  // makes its sender the peer.
  void Receive(std::chrono::steady_clock::time_point until,
               const std::function<bool(std::span<const std::uint8_t>)>& take);
  void Wake();

 private:
  struct CAddress;
  CUdpSocket(int socket, int wakeFd, std::unique_ptr<CAddress> peer);

  int socket_;
  int wakeFd_;
  std::unique_ptr<CAddress> peer_;
};

}  // namespace kestrel
