// CFaxCall: one received fax call, whatever carries it: G.711 audio from the
// start (StartAudio), T.38 from the start (StartT38), or audio first and
// T.38 after a re-INVITE (SwitchToT38). In audio it says once when it hears
// the caller's fax tones, so the SIP line can ask for T.38 itself. All of a
// call's pages go to one TIFF: when the switch comes after audio has
// received pages, T.38 writes beside it and Wait appends its pages, so
// those of audio are kept and come first (fax_capture.h). SpanDSP writes
// each page's CleanFaxData (0 clean, 1 bad rows regenerated), with
// BadFaxLines and ConsecutiveBadFaxLines on a page that had bad rows; those
// pages are also in FaxCallResult::pagesWithErrors.
//
// Start* and SwitchToT38 answer a Result/Status (core/result.h). Hangup,
// Finished and SwitchToT38 may be called from any thread (not from inside
// onFaxTones); Wait from one thread only.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/t38_parameters.h"
#include "media/audio_fax_call.h"
#include "media/t30_outcome.h"

namespace kestrel {

struct FaxCallSetup {
  std::string tiffPath;
  std::string localStationId;
  // Audio only: called once, on the call's thread, when the caller's CNG or
  // V.21 preamble is heard; may be empty. It must not wait for the call.
  std::function<void()> onFaxTones{};
};

struct T38Setup {
  int localPort = 0;
  AudioEndpoint remote;
  // The session as agreed: what the peer's SDP stated, its version the
  // lower of the peer's and ours.
  T38Parameters peer{};
};

class CT38FaxCall;

class CFaxCall {
 public:
  // Fails (step "RTP") when the port cannot be had, (step "T.30") when
  // SpanDSP cannot be set up.
  [[nodiscard]] static Result<std::unique_ptr<CFaxCall>> StartAudio(const FaxCallSetup& setup, int localRtpPort,
                                                                    const AudioEndpoint& remote, AudioCodec codec);
  // Fails (step "UDPTL") when the port cannot be had, (step "T.38") when
  // SpanDSP cannot be set up.
  [[nodiscard]] static Result<std::unique_ptr<CFaxCall>> StartT38(const FaxCallSetup& setup, const T38Setup& t38);
  ~CFaxCall();
  CFaxCall(const CFaxCall&) = delete;
  CFaxCall& operator=(const CFaxCall&) = delete;

  // Stops the audio receiver and lets the T.38 terminal take over (its T.30
  // starts afresh, as the caller's does). The port may be the audio's own.
  // Fails (step "T.38") when the call is in T.38 already or has ended, and
  // as StartT38 does when the port cannot be had; before the audio is
  // stopped where the ports differ, so the call goes on in audio.
  [[nodiscard]] Status SwitchToT38(const T38Setup& t38);
  // The remote sent BYE: end now, keep pages so far.
  void Hangup();
  [[nodiscard]] bool Finished() const;
  // Blocks until the call ends; the capture is whole by then.
  FaxCallResult Wait();

 private:
  CFaxCall(const FaxCallSetup& setup, int audioPort);

  const FaxCallSetup setup_;
  const int audioPort_;
  mutable std::mutex mutex_;
  std::unique_ptr<CAudioFaxCall> audio_;
  std::unique_ptr<CT38FaxCall> t38_;
  std::string t38Path_;  // where T.38 writes: the capture, or beside it
  bool hungUp_ = false;
  bool switchFailed_ = false;  // the audio stopped and T.38 could not start
  Failure switchFailure_;
};

}  // namespace kestrel
