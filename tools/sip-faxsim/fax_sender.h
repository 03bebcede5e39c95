// CFaxSender: sends one TIFF as a fax over an RTP audio link with SpanDSP's
// T.30 sender (ECM on), paced by the clock as a telephone would. It can lose
// page data on purpose (a share of the packets sent while page data flows,
// chosen by a seeded generator, so a run repeats exactly) and stop after a
// page, as a caller who hangs up.
//
// Not thread-safe; one sender per process run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "media/rtp_audio_link.h"

namespace kestrel {

struct FaxSendOptions {
  std::string tiffPath;
  std::string stationId = "sip-faxsim";
  double lossPercent = 0;
  std::uint32_t seed = 1;
  int hangupAfterPage = 0;  // 0: send every page
  // Asked every frame when set: true once the receiver has hung up.
  std::function<bool()> peerHungUp;
};

struct FaxSendOutcome {
  bool ok = false;  // T.30 ended well, or stopped after the page asked for
  int pages = 0;
  int bitRate = 0;
  std::uint64_t dropped = 0;  // packets lost on purpose
  std::string text;           // SpanDSP's words for how T.30 ended
};

[[nodiscard]] FaxSendOutcome SendFax(CRtpAudioLink& link, const FaxSendOptions& options);

}  // namespace kestrel
