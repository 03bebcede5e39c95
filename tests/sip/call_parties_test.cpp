// Who called whom, read from an INVITE's headers: the dialled number's three
// sources in their order and the caller's, and every way a caller ID is
// withheld.
#include "sip/call_parties.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(CallParties, DialledAndCallerComeFromTheirHeadersInOrder) {
  const struct {
    SipIdentityHeaders in;
    const char* dialled;
    const char* caller;  // empty: withheld
  } cases[] = {
      // A trunk's direct-dial number in the Request-URI.
      {{.requestUser = "4930777", .contactUser = "faxuser", .toUser = "4930000", .fromUser = "+4930555"},
       "4930777",
       "+4930555"},
      // Rewritten to our Contact: P-Called-Party-ID, else To.
      {{.requestUser = "faxuser",
        .contactUser = "faxuser",
        .calledPartyId = "<sip:+4930778@pbx;user=phone>",
        .toUser = "4930000",
        .fromUser = "555"},
       "+4930778",
       "555"},
      {{.requestUser = "faxuser", .contactUser = "faxuser", .toUser = "4930000", .fromUser = "555"}, "4930000", "555"},
      {{.requestUser = "faxuser", .contactUser = "faxuser", .calledPartyId = "tel:+4930779", .fromUser = "555"},
       "+4930779",
       "555"},
      // P-Asserted-Identity over From.
      {{.requestUser = "1", .assertedIdentity = "\"Office\" <sip:+4930111@pbx>", .fromUser = "222"}, "1", "+4930111"},
      // Withheld: anonymous, no digits, Privacy: id.
      {{.requestUser = "1", .fromUser = "anonymous"}, "1", ""},
      {{.requestUser = "1", .fromUser = "reception"}, "1", ""},
      {{.requestUser = "1", .fromUser = "+4930555", .privacy = "user; id"}, "1", ""},
      {{.requestUser = "1", .assertedIdentity = "<sip:anonymous@anonymous.invalid>", .fromUser = "+4930555"}, "1", ""},
      // An unreadable header counts as absent.
      {{.requestUser = "faxuser",
        .contactUser = "faxuser",
        .calledPartyId = "<<:>",
        .toUser = "42",
        .assertedIdentity = "\"unterminated <sip:",
        .fromUser = "7"},
       "42",
       "7"},
  };
  for (const auto& c : cases) {
    const SipCallParties p = ReadCallParties(c.in);
    EXPECT_EQ(p.dialled, c.dialled) << c.dialled;
    EXPECT_EQ(p.caller, c.caller) << c.dialled << " " << c.caller;
    EXPECT_EQ(p.callerWithheld, std::string(c.caller).empty()) << c.caller;
  }
}

}  // namespace
}  // namespace kestrel
