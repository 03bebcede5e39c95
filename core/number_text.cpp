// Reading the number fields of the options sheet from text: one pass over
// the characters, stopping as soon as the value leaves the 33-bit range.
#include "core/number_text.h"

#include <limits>

namespace kestrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Digits with an optional sign, blanks around them; the value as a wide number.
std::optional<long long> ScanNumber(std::string_view t, bool allowMinus) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    if (negative && !allowMinus) return std::nullopt;
    ++i;
  }
  if (i >= t.size()) return std::nullopt;
  long long value = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > (1LL << 33)) return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<std::uint32_t> ScanUnsigned(std::string_view text) {
  auto v = ScanNumber(text, false);
  if (!v || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::int32_t> ScanSigned(std::string_view text) {
  auto v = ScanNumber(text, true);
  if (!v || *v > std::numeric_limits<std::int32_t>::max() || *v < std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

}  // namespace kestrel
