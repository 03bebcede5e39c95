// The SIP line: registers at SipRegistrar with digest authentication (and
// keeps the registration: refreshed before the expiry the registrar granted,
// Min-Expires taken from a 423, retried with a back-off of at most a minute
// after failures) and takes the INVITEs of the registrar and the SipPeers:
// 100, 180, then 200 with a G.711 answer on a port of SipRtpPorts, or, to an
// INVITE offering only T.38 (and SipT38 on), a T.38 answer on a UDPTL port
// of the same range. A source not allowed gets 403, a call beyond
// SipChannels 486, and the handler decides the rest (404, 603, 486).
// T.38 (SipT38 on): a caller's re-INVITE to T.38 is answered with ours (the
// lower version, our limits, transferredTCF, redundancy unless it asked for
// none) once the handler agrees (MediaChanged; 488 and audio when it does
// not). RequestT38 sends our own re-INVITE, once per call: a 200 with T.38
// moves the call, any refusal leaves it in audio. When re-INVITEs cross, the
// caller's gets 491 while ours is pending, ours is tried again after 0-2 s
// after a 491 (we are not the Call-ID's owner), and a caller's re-INVITE that
// comes first is taken instead. A call's ports are free again when it ends.
// OPTIONS (a proxy's health check) is answered 200 with the methods and body
// types taken, 403 to a source not allowed.
//
// Everything the network sends is parsed by libre (SIP and SDP); the line
// reads only the values it needs, and a datagram the stack cannot parse is
// dropped. Start and the operations return Status values.
// Threads: the line runs its own thread; the handler is called from it, one
// call at a time. Hangup, RequestT38, Registration and the waits may be
// called from any thread; Start and Stop from the owner's only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/service_settings.h"
#include "core/t38_parameters.h"

namespace kestrel {

struct SipCallOffer {
  std::string dialled, caller;
  bool callerWithheld = false;
  std::string remoteAddress;  // where the INVITE came from (signalling)
  AudioEndpoint media;
  std::vector<AudioCodec> codecs;
  std::optional<T38Parameters> t38;  // the INVITE offered an image line (T.38)
};

enum class SipMediaKind { kAudio, kT38 };

// What a call carries now.
struct SipMedia {
  SipMediaKind kind = SipMediaKind::kAudio;
  std::uint16_t localPort = 0;  // our RTP or UDPTL port
  AudioEndpoint remote;
  AudioCodec codec = AudioCodec::kPcma;  // audio
  T38Parameters t38;                     // T.38: as agreed (AgreedT38Parameters)
};

enum class SipAnswer { kAccept, kNotServed /*404*/, kCallerRequired /*603*/, kBusy /*486*/ };

// Owned by the caller of CSipLine::Start; called on the line's thread.
class ISipCallHandler {
 public:
  virtual ~ISipCallHandler() = default;
  virtual SipAnswer Offer(const SipCallOffer& offer, int callId) = 0;
  // The 200 went out: audio, or T.38 when the INVITE offered only that.
  virtual void Answered(int callId, const SipMedia& media) = 0;
  // The call moves to `media` (T.38; audio again should a caller go back):
  // before our 200 to the caller's re-INVITE goes out (false: it gets 488
  // and the call stays as it was), and when the 200 to our own re-INVITE
  // arrives (false: the call ends with BYE). Not called for a re-INVITE that
  // changes nothing the handler was told.
  virtual bool MediaChanged(int callId, const SipMedia& media) = 0;
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
  // Our re-INVITE answered 491 is sent again after a wait drawn from these
  // (milliseconds; 0-2 s for the side that does not own the Call-ID).
  std::uint32_t shortestGlareWait = 0;
  std::uint32_t longestGlareWait = 2000;
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
  // Our re-INVITE to T.38, when SipT38 is on, the call is in audio, was
  // answered less than 20 s ago, no re-INVITE is under way and none was
  // asked for before; otherwise nothing happens.
  void RequestT38(int callId);

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
