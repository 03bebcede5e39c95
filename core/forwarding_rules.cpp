// The forwarding editors' checks and refusal texts (the system's own words,
// German and English as they were). Pure functions of the typed text.
#include "core/forwarding_rules.h"

namespace kestrel {
namespace {

constexpr char kInvalidAcceptAllAddress[] = "You must also insert a valid Email Address";
constexpr char kInvalidNewMsn[] = "The incoming MSN is not valid";
constexpr char kInvalidNewAddress[] = "The email address must be valid.";
constexpr char kInvalidEditedAddress[] = "Sie müssen eine korrekte e-Mail Adresse eingeben";
constexpr char kInvalidEditedMsn[] = "Sie müssen eine korrekte MSN eingeben";
constexpr char kMissingSenderNumber[] = "Sie müssen eine Senderkennung (TSID) angeben.";
constexpr char kMissingSenderAddress[] = "Sie müssen eine Email-Adresse angeben.";

bool IsUsableAddress(std::string_view address) { return !address.empty() && IsValidEmailAddress(address); }

Status Refused(const char* text) { return Status::Failed("", text); }

}  // namespace

bool IsValidEmailAddress(std::string_view text) {
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos) return false;
  const std::size_t dot = text.rfind('.');
  return dot != std::string_view::npos && dot > at;
}

bool IsFaxNumberDigit(char c) { return c >= '0' && c <= '9'; }

bool HoldsOnlyDigits(std::string_view number) {
  for (char c : number)
    if (!IsFaxNumberDigit(c)) return false;
  return true;
}

Status CheckAcceptAllAddress(bool acceptAll, std::string_view address) {
  if (acceptAll && !IsUsableAddress(address)) return Refused(kInvalidAcceptAllAddress);
  return {};
}

Status CheckNewMsnRow(std::string_view number, std::string_view address) {
  if (number.empty()) return Refused(kInvalidNewMsn);
  if (!IsUsableAddress(address)) return Refused(kInvalidNewAddress);
  return {};
}

Status CheckEditedMsnRow(std::string_view number, std::string_view address) {
  if (!IsUsableAddress(address)) return Refused(kInvalidEditedAddress);
  if (number.empty()) return Refused(kInvalidEditedMsn);
  return {};
}

Status CheckNewSenderRow(std::string_view number, std::string_view address) {
  if (number.empty()) return Refused(kMissingSenderNumber);
  if (address.empty()) return Refused(kMissingSenderAddress);
  return {};
}

}  // namespace kestrel
