#include "sip/call_parties.h"

#include <re.h>

#include <algorithm>
#include <cctype>

namespace kestrel {
namespace {

std::string Text(const pl& p) { return p.p ? std::string(p.p, p.l) : std::string(); }

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Privacy: a list of words separated by ';' (and, from some peers, ',').
bool AsksForPrivacyOfId(std::string_view privacy) {
  while (!privacy.empty()) {
    const auto end = privacy.find_first_of(";,");
    std::string_view word = privacy.substr(0, end);
    while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    if (SameWord(word, "id")) return true;
    privacy = end == std::string_view::npos ? std::string_view() : privacy.substr(end + 1);
  }
  return false;
}

// The characters a SIP user part may hold; anything else (a line break, a
// NUL, a quote) goes before the number reaches file names and mails.
std::string UserText(std::string_view text) {
  static constexpr std::string_view kMarks = "-_.!~*'()&=+$,;?/%#";
  std::string user;
  for (char c : text)
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        kMarks.find(c) != std::string_view::npos)
      user += c;
  return user;
}

bool HasDigit(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string AddressUser(std::string_view value) {
  // The decoder keeps pointers into `value`; a copy with a terminator keeps
  // it within bounds whatever the caller's view ends with.
  const std::string text(value);
  pl in{};
  pl_set_str(&in, text.c_str());
  sip_addr addr{};
  if (text.empty() || sip_addr_decode(&addr, &in) != 0) return {};
  std::string user = Text(addr.uri.user);
  if (user.empty() && pl_strcasecmp(&addr.uri.scheme, "tel") == 0) user = Text(addr.uri.host);
  // A tel URI's or a user=phone user may carry parameters after ';'.
  return UserText(std::string_view(user).substr(0, user.find(';')));
}

SipCallParties ReadCallParties(const SipIdentityHeaders& h) {
  SipCallParties parties;
  if (!h.requestUser.empty() && h.requestUser != h.contactUser) {
    parties.dialled = UserText(h.requestUser);
  } else if (std::string called = AddressUser(h.calledPartyId); !called.empty()) {
    parties.dialled = std::move(called);
  } else {
    parties.dialled = UserText(h.toUser);
  }
  std::string caller = AddressUser(h.assertedIdentity);
  if (caller.empty()) caller = UserText(h.fromUser);
  parties.callerWithheld = SameWord(caller, "anonymous") || !HasDigit(caller) || AsksForPrivacyOfId(h.privacy);
  if (!parties.callerWithheld) parties.caller = std::move(caller);
  return parties;
}

}  // namespace kestrel
