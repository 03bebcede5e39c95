// SendFaxT38: sends one TIFF as a fax over UDPTL with SpanDSP's T.38
// terminal as the calling fax (ECM on), paced by the clock, with the
// session's version and fastest rate; T.30 starts afresh, also when the call
// began in audio. The datagrams, their redundancy and their loss are the
// channel's (udptl_channel.h).
//
// Not thread-safe; one sender per channel.
#pragma once

#include "core/t38_parameters.h"
#include "t30_progress.h"
#include "udptl_channel.h"

namespace kestrel {

[[nodiscard]] FaxSendOutcome SendFaxT38(faxsim::CUdptlChannel& channel, const FaxSendOptions& options,
                                        const T38Parameters& session);

}  // namespace kestrel
