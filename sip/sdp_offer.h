// The SDP of a call: what the caller offers (its audio address and port, its
// G.711 codecs in its order, whether it asks for T.38) and our answer (the
// same codecs in the same order on our RTP port). Parsing and writing are
// the SIP stack's SDP module's; this file only chooses.
// The offer comes from the network: the stack bounds what it reads, and an
// offer without G.711 audio is refused. Failures are Result values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"

namespace kestrel {

struct SdpOffer {
  AudioEndpoint media;             // the audio line's address and port; port 0 when there is none
  std::vector<AudioCodec> codecs;  // PCMA/PCMU, in the offer's order
  bool image = false;              // an image line (T.38) with a port
};

[[nodiscard]] Result<SdpOffer> ReadSdpOffer(std::string_view body);

// The answer to `body` from `localAddress` (numeric) and `rtpPort`, taking the
// offer's G.711 codecs in its order; fails when it offers none.
struct SdpAnswer {
  std::string body;
  AudioCodec codec;  // the first of them: the one the call uses
};
[[nodiscard]] Result<SdpAnswer> WriteSdpAnswer(std::string_view body, const std::string& localAddress,
                                               std::uint16_t rtpPort);

}  // namespace kestrel
