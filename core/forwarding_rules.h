// What the forwarding editors accept, and the texts with which they refuse
// the rest: the MSN page (tblMSNEmail and the accept-all address) and the
// Forwarding page (tblTSIDEMail). The desktop's pages and kestrel-admin ask
// the same questions here, so both refuse the same input with the same words.
// Each check answers a Status: ok when the input is accepted, else failed with
// the refusal text as its Failure text (no step), which the caller shows as it is.
#pragma once

#include <string_view>

#include "core/result.h"

namespace kestrel {

// The address check: true exactly when `text` holds an at sign and the last
// full stop comes after the first at sign. Nothing else about the text matters.
[[nodiscard]] bool IsValidEmailAddress(std::string_view text);

// The number fields take digits only (the desktop's field drops every other
// key); an empty number is the checks' business, not this one's.
[[nodiscard]] bool IsFaxNumberDigit(char c);
[[nodiscard]] bool HoldsOnlyDigits(std::string_view number);

// Accept-all on with an address that is empty or fails IsValidEmailAddress.
Status CheckAcceptAllAddress(bool acceptAll, std::string_view address);
// A new MSN row: the number must not be empty, then the address must pass.
Status CheckNewMsnRow(std::string_view number, std::string_view address);
// An edited MSN row: the address is checked first, then the number.
Status CheckEditedMsnRow(std::string_view number, std::string_view address);
// A new caller row: number and address must be present; the address format
// is not examined. (An edited caller row is stored as it is.)
Status CheckNewSenderRow(std::string_view number, std::string_view address);

}  // namespace kestrel
