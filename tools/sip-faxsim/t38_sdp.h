// The SDP of the test caller's T.38: the image stream it offers or answers
// in one of a few styles (plain, or valid but unusual: attributes reordered,
// booleans and unknown attributes present, c= at media level, extreme
// values), and what it reads of the peer's: the media lines and the T.38
// parameters of the first usable image stream.
//
// Reads the peer's SDP: lines are split within the body, numbers are
// range-checked, an unusable line is skipped. Nothing here fails.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/audio_endpoint.h"
#include "core/t38_parameters.h"

namespace kestrel::faxsim {

enum class T38SdpStyle { kPlain, kOdd, kOddSmall };

struct SdpMedia {
  std::string kind;  // "audio", "image", ...
  int port = 0;
  std::string proto;                                            // "RTP/AVP", "udptl", ...
  std::string formats;                                          // the rest of the m= line
  std::string address;                                          // media-level c=, else the session's
  std::vector<std::pair<std::string, std::string>> attributes;  // name, value ("" when none)
};

struct T38Session {
  AudioEndpoint remote;
  T38Parameters parameters;  // as agreed: what the sender honours
};

[[nodiscard]] std::vector<SdpMedia> ReadSdp(const std::string& body);
// The first image udptl t38 stream with a port, its parameters as stated.
[[nodiscard]] std::optional<T38Session> FindT38(const std::vector<SdpMedia>& media);

// What the caller states it can take, in `style`.
[[nodiscard]] T38Parameters OwnT38Parameters(T38SdpStyle style);
// The answer to an offer of `offered`: the lower version and rate,
// transferredTCF, redundancy unless the offer has no error correction.
[[nodiscard]] T38Parameters AnswerT38(const T38Parameters& own, const T38Parameters& offered);
// What the sender honours once both sides have stated theirs: the lower
// version and rate, the peer's error correction and largest datagram.
[[nodiscard]] T38Parameters AgreeT38(const T38Parameters& own, const T38Parameters& peer);

// A whole SDP body: the session lines and `media` (one or more m= blocks).
[[nodiscard]] std::string SdpBody(T38SdpStyle style, const std::string& address, int version, const std::string& media);
// One m=image block stating `stated` in `style`.
[[nodiscard]] std::string ImageMedia(T38SdpStyle style, const std::string& address, int port,
                                     const T38Parameters& stated);
// An m= line refusing the stream `media` (port 0), for an answer's order.
[[nodiscard]] std::string RefusedMedia(const SdpMedia& media);

}  // namespace kestrel::faxsim
