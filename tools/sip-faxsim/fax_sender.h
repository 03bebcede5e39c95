// SendFax: sends one TIFF as a fax over an RTP audio link with SpanDSP's
// T.30 sender (ECM on), paced by the clock as a telephone would. It can lose
// page data on purpose (a share of the packets sent while page data flows,
// chosen by a seeded generator, so a run repeats exactly), stop after a
// page, as a caller who hangs up, and stop for the call to go on in T.38
// when the signalling asks (FaxSendOptions::between).
//
// Not thread-safe; one sender per process run.
#pragma once

#include "media/rtp_audio_link.h"
#include "t30_progress.h"

namespace kestrel {

[[nodiscard]] FaxSendOutcome SendFax(CRtpAudioLink& link, const FaxSendOptions& options);

}  // namespace kestrel
