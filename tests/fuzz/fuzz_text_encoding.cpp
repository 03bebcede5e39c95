// fuzz_text_encoding: any bytes through every transcoding of platform/: as
// Windows-1252, as UTF-16LE and as UTF-8 towards 1252, UTF-16LE and
// ISO-8859-1. Each output is checked against a strict UTF-8 decoder of its
// own here, and every round trip that is defined must give the input back.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_encoding.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using kestrel::fuzz::Check;

// The code points of well-formed UTF-8 (no overlong forms, no surrogates,
// nothing beyond U+10FFFF), or nothing.
std::optional<std::vector<char32_t>> DecodeUtf8(std::string_view s) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80                 ? 1
                 : b >= 0xC2 && b <= 0xDF ? 2
                 : b >= 0xE0 && b <= 0xEF ? 3
                 : b >= 0xF0 && b <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > s.size()) return std::nullopt;
    char32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += len;
  }
  return out;
}

// ISO-8859-1 bytes are their own code points.
std::string Latin1AsUtf8(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

// Whether Windows-1252 has a byte for `cp`: its 256 characters, found once
// through the decoder whose round trip is checked on every input.
bool Cp1252Holds(char32_t cp) {
  static const std::vector<char32_t> repertoire = [] {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    return DecodeUtf8(kestrel::Cp1252ToUtf8(all)).value_or(std::vector<char32_t>{});
  }();
  for (char32_t c : repertoire)
    if (c == cp) return true;
  return false;
}

// Whether the UTF-16LE units pair every surrogate.
bool IsWellFormedUtf16(std::string_view bytes) {
  const size_t n = bytes.size() / 2;
  auto unit = [&](size_t k) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                 (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
  };
  for (size_t k = 0; k < n; ++k) {
    const char16_t u = unit(k);
    if (u >= 0xDC00 && u <= 0xDFFF) return false;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (k + 1 >= n || unit(k + 1) < 0xDC00 || unit(k + 1) > 0xDFFF) return false;
      ++k;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Bytes as Windows-1252: every byte has a character, so the way back is exact.
  const std::string fromCp1252 = kestrel::Cp1252ToUtf8(bytes);
  const auto cp1252Points = DecodeUtf8(fromCp1252);
  Check(cp1252Points && cp1252Points->size() == size, "1252 gives no UTF-8 of one character a byte");
  Check(kestrel::Utf8ToCp1252(fromCp1252) == bytes, "1252 does not round-trip");

  // Bytes as UTF-16LE: paired surrogates come back exactly, the rest as U+FFFD.
  const std::string fromUtf16 = kestrel::Utf16LeToUtf8(bytes);
  Check(DecodeUtf8(fromUtf16).has_value(), "UTF-16LE gives no UTF-8");
  const std::string even(bytes.substr(0, size / 2 * 2));
  if (IsWellFormedUtf16(even)) Check(kestrel::Utf8ToUtf16Le(fromUtf16) == even, "UTF-16LE does not round-trip");
  Check(kestrel::Utf16LeToUtf8(kestrel::Utf8ToUtf16Le(fromUtf16)) == fromUtf16, "UTF-8 from UTF-16LE unstable");

  // Bytes as UTF-8, towards each 8- and 16-bit form.
  const auto points = DecodeUtf8(bytes);
  const std::string toUtf16 = kestrel::Utf8ToUtf16Le(bytes);
  Check(toUtf16.size() % 2 == 0, "UTF-16LE of odd length");
  if (points) Check(kestrel::Utf16LeToUtf8(toUtf16) == bytes, "UTF-8 does not round-trip through UTF-16LE");

  const std::string toCp1252 = kestrel::Utf8ToCp1252(bytes);
  if (points) {
    Check(toCp1252.size() == points->size(), "1252 holds not one byte a character");
    bool fitsCp1252 = true;
    for (char32_t cp : *points) fitsCp1252 = fitsCp1252 && Cp1252Holds(cp);
    if (fitsCp1252) Check(kestrel::Cp1252ToUtf8(toCp1252) == bytes, "UTF-8 does not round-trip through 1252");
  }

  const auto toLatin1 = kestrel::Utf8ToLatin1(bytes);
  bool fitsLatin1 = points.has_value();
  if (points)
    for (char32_t cp : *points) fitsLatin1 = fitsLatin1 && cp <= 0xFF;
  Check(toLatin1.has_value() == fitsLatin1, "ISO-8859-1 refused or took the wrong texts");
  if (toLatin1) Check(Latin1AsUtf8(*toLatin1) == bytes, "UTF-8 does not round-trip through ISO-8859-1");
  return 0;
}
