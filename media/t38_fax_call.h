// CT38FaxCall: receives one fax over T.38: SpanDSP's T.38 terminal in answer
// mode (its T.30 with ECM on, writing the TIFF) runs on a thread of its own,
// fed with the peer's IFPs in order from a UDPTL link (udptl_link.h) and
// driven by the clock, 20 ms of samples at a time. The session follows what
// the SDP agreed: T.38 version, the highest image rate, transferred or local
// TCF, the peer's buffer and datagram sizes. The call ends as an audio call
// does: when T.30 ends, on Hangup, or after kMediaSilenceLimit without a
// datagram.
//
// The IFPs are untrusted; SpanDSP's T.38 core parses them. Start answers a
// Result (core/result.h); Hangup, Finished and Wait may be called from any
// thread.
#pragma once

#include <memory>
#include <string>

#include "core/result.h"
#include "core/t38_parameters.h"
#include "media/t30_outcome.h"
#include "media/udptl_link.h"

namespace kestrel {

// The T.38 versions SpanDSP's terminal speaks.
inline constexpr int kHighestT38Version = 3;

class CT38FaxCall {
 public:
  // Starts the receiver on `link`; `session` is what the SDP agreed (its
  // version the lower of the two sides'). Fails (step "T.38") when SpanDSP
  // cannot be set up.
  [[nodiscard]] static Result<std::unique_ptr<CT38FaxCall>> Start(std::unique_ptr<CUdptlLink> link,
                                                                  const T38Parameters& session,
                                                                  const std::string& tiffPath,
                                                                  const std::string& localStationId);
  ~CT38FaxCall();
  CT38FaxCall(const CT38FaxCall&) = delete;
  CT38FaxCall& operator=(const CT38FaxCall&) = delete;

  // The remote sent BYE: end now, keep pages so far.
  void Hangup();
  [[nodiscard]] bool Finished() const;
  // Blocks until T.30 ends or Hangup; the pages are in the TIFF by then.
  FaxCallResult Wait();

 private:
  class CImpl;
  explicit CT38FaxCall(std::unique_ptr<CImpl> impl);
  std::unique_ptr<CImpl> impl_;
};

}  // namespace kestrel
