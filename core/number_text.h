// Whole numbers typed as text, read the way the options sheet reads its number
// fields ("%u" and "%d" of the old data exchange): blanks around the number
// are allowed, anything else refuses the text. The desktop's fields and
// kestrel-admin's `settings set` both read numbers here.
//
// The text is untrusted: it is scanned once, and a value beyond 2^33 stops the
// scan, so no length overflows.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

// "%u": nullopt for anything else, negative numbers and values beyond 32 bits included.
std::optional<std::uint32_t> ScanUnsigned(std::string_view text);
// "%d" within the signed 32-bit range.
std::optional<std::int32_t> ScanSigned(std::string_view text);

}  // namespace kestrel
