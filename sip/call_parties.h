// Who called whom, from an INVITE's headers: the dialled number is the
// Request-URI's user unless that is the user we registered as (a registrar of
// one number rewrites it to our Contact), then P-Called-Party-ID, else the To
// user; the caller is P-Asserted-Identity's user, else the From user, and is
// withheld when it is "anonymous", has no digits, or Privacy asks for "id".
// The header values come from the network: they are parsed by the SIP
// stack's address decoder and only their user parts are kept. Nothing fails:
// what cannot be read counts as absent.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

struct SipIdentityHeaders {
  std::string_view requestUser{};    // the Request-URI's user
  std::string_view contactUser{};    // the user of our own Contact (SipUser)
  std::string_view calledPartyId{};  // P-Called-Party-ID's value, empty if none
  std::string_view toUser{};
  std::string_view assertedIdentity{};  // P-Asserted-Identity's value, empty if none
  std::string_view fromUser{};
  std::string_view privacy{};  // Privacy's value, empty if none
};

struct SipCallParties {
  std::string dialled;
  std::string caller;  // empty when withheld
  bool callerWithheld = false;
};

SipCallParties ReadCallParties(const SipIdentityHeaders& headers);

// The user of an address with or without its angle brackets ("<sip:+4930123@host>", "tel:+4930123"),
// empty when the text is not one.
std::string AddressUser(std::string_view value);

}  // namespace kestrel
