// The SDP of a call: what the peer offers or answers (its audio address,
// port and G.711 codecs in its order; its image line and the T.38 parameters
// stated there) and what the line sends: an answer with G.711 on our RTP port
// or with T.38 on our UDPTL port, and the offer of our own re-INVITE to T.38.
// The bodies come from the network. The SIP stack's SDP module splits them
// and bounds each line; the T.38 attribute values are read here as bounded
// decimal numbers and known words, and a value out of range or unknown counts
// as not stated (the default stands): an odd peer is answered, not refused.
// Only an image line that is not "udptl t38" counts as no T.38.
// Writing is plain text of ours, one origin per call whose version goes up
// with each body. Failures are Result values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/result.h"
#include "core/t38_parameters.h"

namespace kestrel {

// A media line as the peer wrote it, repeated (declined) in our answer.
struct SdpMediaLine {
  std::string name, proto, format;
};

struct SdpOffer {
  AudioEndpoint media;               // the audio line's address and port; port 0 when there is none
  std::vector<AudioCodec> codecs;    // PCMA/PCMU, in the offer's order
  AudioEndpoint image;               // the "udptl t38" image line's address and port; port 0 when none
  std::optional<T38Parameters> t38;  // the parameters stated on that line, when it has an address and a port
  std::vector<SdpMediaLine> lines;   // every media line, in order
};

// An offer or an answer alike: only what it states is read.
[[nodiscard]] Result<SdpOffer> ReadSdpOffer(std::string_view body);

// The SDP origin of one call's bodies; `version` goes up with each.
struct SdpOrigin {
  std::uint32_t id = 0;
  std::uint32_t version = 0;
};

// What we state on our image line: our own limits, the lower version, our
// bit rate, transferredTCF and redundancy unless the peer asked for none.
// A peer stating localTCF is answered transferredTCF all the same: over
// UDPTL the training check is sent through, so that is the only method that
// works.
T38Parameters OurT38Parameters(const std::optional<T38Parameters>& peer = std::nullopt);

// The session both sides run once `peer` (its offer or its answer) met ours:
// the lower version and bit rate, transferredTCF, the error correction we
// stated, and the peer's own limits for what we send it.
T38Parameters AgreedT38Parameters(const T38Parameters& peer);

// The answer on `rtpPort` with the offer's G.711 codecs in its order; every
// other line declined. Fails when it offers no G.711 audio.
struct SdpAnswer {
  std::string body;
  AudioCodec codec;  // the first of them: the one the call uses
};
[[nodiscard]] Result<SdpAnswer> WriteAudioAnswer(const SdpOffer& offer, const std::string& localAddress,
                                                 std::uint16_t rtpPort, SdpOrigin& origin);
// The answer on `udptlPort` to the offer's T.38 line; every other line
// declined. Fails when it offers no T.38.
[[nodiscard]] Result<std::string> WriteT38Answer(const SdpOffer& offer, const std::string& localAddress,
                                                 std::uint16_t udptlPort, SdpOrigin& origin);
// The offer of our re-INVITE: one image line on `udptlPort` in place of the
// audio line, as T.38 gateways send it.
std::string WriteT38Offer(const std::string& localAddress, std::uint16_t udptlPort, SdpOrigin& origin);

}  // namespace kestrel
