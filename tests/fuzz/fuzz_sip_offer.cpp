// fuzz_sip_offer: any bytes as what an INVITE brings: the part before the
// first NUL as its SDP offer, read and answered from a fixed port (audio, and
// T.38 when its image line is read); the lines after it as the identity headers (Request-URI user, P-Called-Party-ID,
// To user, P-Asserted-Identity, From user, Privacy) and as a SipPeers value. Checks that an answer offers only codecs
// the offer had, on our port and address, states only our T.38 limits, is made of whole "x=" lines, and that the
// parties read carry no line breaks, a withheld caller no number.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/sip_setting_text.h"
#include "sip/call_parties.h"
#include "sip/sdp_offer.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::fuzz::Check;

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Every line "x=..." and ended by CRLF: nothing of the offer breaks our lines.
bool WholeLines(std::string_view body) {
  while (!body.empty()) {
    const auto end = body.find("\r\n");
    if (end == std::string_view::npos || end < 2 || body[1] != '=' ||
        body.substr(0, end).find_first_of("\r\n") != std::string_view::npos)
      return false;
    body.remove_prefix(end + 2);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view sdp = input.substr(0, input.find('\0'));
  std::string_view rest = sdp.size() < input.size() ? input.substr(sdp.size() + 1) : std::string_view();

  if (auto offer = kestrel::ReadSdpOffer(sdp); offer) {
    kestrel::SdpOrigin origin{1, 1};
    auto answer = kestrel::WriteAudioAnswer(*offer, "192.0.2.7", 20000, origin);
    if (answer) {
      Check(!offer->codecs.empty() && answer->codec == offer->codecs.front(), "answered a codec not offered first");
      Check(answer->body.find("m=audio 20000 RTP/AVP") != std::string::npos, "answer without our audio line");
      Check(answer->body.find("IN IP4 192.0.2.7") != std::string::npos, "answer without our address");
      Check(WholeLines(answer->body), "an audio answer with a broken line");
    }
    auto image = kestrel::WriteT38Answer(*offer, "192.0.2.7", 20002, origin);
    Check(image.Ok() == offer->t38.has_value(), "T.38 read but not answered, or answered unread");
    if (image) {
      Check(
          image->find("m=image 20002 udptl t38\r\na=T38FaxVersion:0\r\na=T38MaxBitRate:14400\r\n") != std::string::npos,
          "T.38 answered beyond our version or rate");
      Check(WholeLines(*image), "a T.38 answer with a broken line");
    }
  }

  std::vector<std::string_view> lines;
  while (!rest.empty() && lines.size() < 7) {
    const auto end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  lines.resize(7);
  const kestrel::SipCallParties parties =
      kestrel::ReadCallParties({lines[0], "faxuser", lines[1], lines[2], lines[3], lines[4], lines[5]});
  Check(!HasLineBreak(parties.dialled) && !HasLineBreak(parties.caller), "a party with a line break");
  Check(!parties.callerWithheld || parties.caller.empty(), "a withheld caller with a number");
  (void)kestrel::ParseSipPeers(lines[6]);
  return 0;
}
