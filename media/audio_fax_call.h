// CAudioFaxCall: receives one fax over a G.711 audio call. SpanDSP's T.30
// receiver (ECM on) runs on a thread of its own, fed by the call's RTP
// socket, and writes the pages to a TIFF file; the call ends when T.30 ends,
// when the signalling side says the peer hung up (Hangup), or after
// kMediaSilenceLimit without audio. The signalling side (a SIP line) supplies
// the ports and codec it agreed and reads the outcome from Wait.
//
// The RTP it reads is untrusted (see rtp_packet.h, jitter_buffer.h); media
// goes back to where the peer's RTP comes from (symmetric RTP, for peers
// behind NAT), to the address of the offer until the first packet arrives.
// Start answers a Result (core/result.h); the outcome of the fax is the
// AudioFaxResult. Hangup, Finished and Wait may be called from any thread;
// Wait from one thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/audio_endpoint.h"
#include "core/result.h"

namespace kestrel {

struct AudioFaxSetup {
  int localRtpPort = 0;
  AudioEndpoint remote;
  AudioCodec codec = AudioCodec::kPcma;
  std::string tiffPath;
  std::string localStationId;
};

struct AudioFaxResult {
  int pages = 0;
  std::string remoteStationId;
  int bitRate = 0;
  bool complete = false;
  std::string incomplete;  // the reason text when !complete
};

// A call whose peer sends nothing for this long is over.
inline constexpr std::chrono::seconds kMediaSilenceLimit{20};
// The reason Wait gives when Hangup ended the call before T.30 did.
inline constexpr char kHungUpReason[] = "the caller hung up before the fax was complete";
inline constexpr char kSilenceReason[] = "no audio from the caller";

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
  [[nodiscard]] bool Finished() const;
  // Blocks until T.30 ends or Hangup; the pages are in the TIFF by then.
  AudioFaxResult Wait();

 private:
  class CImpl;
  explicit CAudioFaxCall(std::unique_ptr<CImpl> impl);
  std::unique_ptr<CImpl> impl_;
};

}  // namespace kestrel
