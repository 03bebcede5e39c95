// CAudioFaxCall: receives one fax over a G.711 audio call. SpanDSP's T.30
// receiver (ECM on) runs on a thread of its own, fed by the call's RTP
// socket, and writes the pages to a TIFF file; the call ends when T.30 ends,
// when the signalling side says the peer hung up (Hangup), or after
// kMediaSilenceLimit without audio. While it runs it listens for the
// caller's fax tones (CNG, or the V.21 preamble of its first frame) and
// says so once, so the signalling side can ask for T.38; Stop ends it for
// that switch (CFaxCall in fax_call.h does the switching).
//
// The RTP it reads is untrusted (see rtp_packet.h, jitter_buffer.h); media
// goes back to where the peer's RTP comes from (symmetric RTP, for peers
// behind NAT), to the address of the offer until the first packet arrives.
// Start answers a Result (core/result.h); the outcome of the fax is the
// AudioFaxResult. Hangup, Stop, Finished and Wait may be called from any
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "media/t30_outcome.h"

namespace kestrel {

struct AudioFaxSetup {
  int localRtpPort = 0;
  AudioEndpoint remote;
  AudioCodec codec = AudioCodec::kPcma;
  std::string tiffPath;
  std::string localStationId;
  // Called once, on the call's thread, when the caller's fax tones are
  // heard; may be empty. It must not wait for this call.
  std::function<void()> onFaxTones{};
};

using AudioFaxResult = FaxCallResult;

class CAudioFaxCall {
 public:
  // Opens the RTP port and starts the receiver. Fails (step "RTP") when the
  // port cannot be had or the remote address is not numeric, and (step "T.30")
  // when SpanDSP cannot be set up.
  [[nodiscard]] static Result<std::unique_ptr<CAudioFaxCall>> Start(const AudioFaxSetup& setup);
  ~CAudioFaxCall();
  CAudioFaxCall(const CAudioFaxCall&) = delete;
  CAudioFaxCall& operator=(const CAudioFaxCall&) = delete;

  // The remote sent BYE: end now, keep pages so far.
  void Hangup();
  // Ends the call for a switch to T.38 once its thread has let go of the
  // RTP port; the pages so far are in the TIFF. False when the call had
  // ended by itself (or by Hangup) first.
  [[nodiscard]] bool Stop();
  [[nodiscard]] bool Finished() const;
  // True on the call's own thread (inside onFaxTones).
  [[nodiscard]] bool OnCallThread() const;
  // Blocks until T.30 ends, Hangup or Stop; the pages are in the TIFF by then.
  AudioFaxResult Wait();

 private:
  class CImpl;
  explicit CAudioFaxCall(std::unique_ptr<CImpl> impl);
  std::unique_ptr<CImpl> impl_;
};

}  // namespace kestrel
