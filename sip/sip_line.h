// The SIP line: registers at SipRegistrar with digest authentication (and
// keeps the registration: refreshed before the expiry the registrar granted,
// Min-Expires taken from a 423, retried with a back-off of at most a minute
// after failures) and takes the INVITEs of the registrar and the SipPeers:
// 100, 180, then 200 with a G.711 answer on a port of SipRtpPorts. A source
// not allowed gets 403, a call beyond SipChannels 486, and the handler
// decides the rest (404, 603, 486). A re-INVITE to T.38 gets 488; the call
// stays in audio. OPTIONS (a proxy's health check) is answered 200 with the
// methods and body types taken, 403 to a source not allowed.
//
// Everything the network sends is parsed by libre (SIP and SDP); the line
// reads only the values it needs, and a datagram the stack cannot parse is
// dropped. Start and the operations return Status values.
// Threads: the line runs its own thread; the handler is called from it, one
// call at a time. Hangup, Registration and the waits may be called from any
// thread; Start and Stop from the owner's only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/service_settings.h"

namespace kestrel {

struct SipCallOffer {
  std::string dialled, caller;
  bool callerWithheld = false;
  std::string remoteAddress;  // where the INVITE came from (signalling)
  AudioEndpoint media;
  std::vector<AudioCodec> codecs;
};

enum class SipAnswer { kAccept, kNotServed /*404*/, kCallerRequired /*603*/, kBusy /*486*/ };

// Owned by the caller of CSipLine::Start; called on the line's thread.
class ISipCallHandler {
 public:
  virtual ~ISipCallHandler() = default;
  virtual SipAnswer Offer(const SipCallOffer& offer, int callId) = 0;
  // The 200 went out: the call's audio is on `localRtpPort` with `codec`.
  virtual void Answered(int callId, int localRtpPort, AudioCodec codec) = 0;
  // The peer ended the call (BYE or CANCEL); not called after Hangup.
  virtual void Ended(int callId) = 0;
};

struct RegistrationState {
  bool registered = false;
  std::string registrar;  // SipRegistrar; empty: the line does not register
  std::string user;
  int expiresIn = 0;                // seconds left of the expiry the registrar granted
  std::int64_t expiresAt = 0;       // when that expiry ends, in seconds since the epoch
  std::string failure;              // why the last attempt failed; empty after a success
  std::uint64_t registrations = 0;  // successful REGISTERs so far, refreshes included
  std::uint64_t failures = 0;       // failed attempts so far
};

// The registration's timing; the defaults are the service's.
struct SipLineTiming {
  std::uint32_t askedExpiry = 3600;   // seconds asked for; the registrar's grant rules
  std::uint32_t longestBackoff = 60;  // seconds between attempts after failures, at most
};

class CSipLine {
 public:
  CSipLine();
  ~CSipLine();  // stops
  CSipLine(const CSipLine&) = delete;
  CSipLine& operator=(const CSipLine&) = delete;

  // Binds SipPort, starts registering and taking calls. Fails when the line
  // is running, a setting does not fit, a host does not resolve or the port is taken.
  [[nodiscard]] Status Start(const ServiceSettings& settings, ISipCallHandler& handler, SipLineTiming timing = {});
  // Ends every call (BYE), unregisters and stops the thread.
  void Stop();
  // Our own BYE; the call's channel is free again.
  void Hangup(int callId);

  RegistrationState Registration() const;
  // The state once more than `seen` registrations have succeeded, an attempt
  // has failed, or `timeout` has passed (the counts tell which).
  RegistrationState WaitForRegistration(std::uint64_t seen, std::chrono::milliseconds timeout) const;
  // Calls holding a channel.
  int HeldChannels() const;

 private:
  struct Impl;
  RegistrationState StateNow() const;
  // Start replaces the line's state while other threads may read it.
  mutable std::shared_mutex replacing_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel
