// fuzz_sip_offer: any bytes as what an INVITE brings: the part before the
// first NUL as its SDP offer, read and answered from a fixed port; the lines
// after it as the identity headers (Request-URI user, P-Called-Party-ID, To
// user, P-Asserted-Identity, From user, Privacy) and as a SipPeers value.
// Checks that an answer offers only codecs the offer had, on our port and
// address, and that the parties read carry no line breaks, a withheld caller
// no number.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view sdp = input.substr(0, input.find('\0'));
  std::string_view rest = sdp.size() < input.size() ? input.substr(sdp.size() + 1) : std::string_view();

  if (auto offer = kestrel::ReadSdpOffer(sdp); offer) {
    auto answer = kestrel::WriteSdpAnswer(sdp, "192.0.2.7", 20000);
    if (answer) {
      Check(!offer->codecs.empty() && answer->codec == offer->codecs.front(), "answered a codec not offered first");
      Check(answer->body.find("m=audio 20000 RTP/AVP") != std::string::npos, "answer without our audio line");
      Check(answer->body.find("IN IP4 192.0.2.7") != std::string::npos, "answer without our address");
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
