#include "convert/pdf_text_layer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

namespace kestrel {
namespace {

// Reads one UTF-8 sequence at `i` and moves past it; nothing for a byte that
// starts no valid sequence (it alone is skipped). Overlong forms and
// surrogates are refused.
std::optional<char32_t> NextCodePoint(std::string_view s, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(s[i++]);
  if (lead < 0x80) return lead;
  int more = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    c = lead & 0x07;
  } else {
    return std::nullopt;
  }
  std::size_t j = i;
  for (int k = 0; k < more; ++k, ++j) {
    if (j >= s.size() || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
  }
  if ((more == 2 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)))
    return std::nullopt;
  i = j;
  return c;
}

// WinAnsiEncoding's codes 0x80 to 0x9F (the five it leaves free stay 0).
constexpr char16_t kWinAnsiHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendWinAnsi(char32_t c, std::string& out) {
  if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF)) {
    out += static_cast<char>(c);
    return;
  }
  for (int code = 0; code < 32; ++code)
    if (kWinAnsiHigh[code] != 0 && kWinAnsiHigh[code] == c) {
      out += static_cast<char>(0x80 + code);
      return;
    }
  switch (c) {  // what a recogniser reads that has a usual spelling in the encoding
    case 0xFB00: out += "ff"; break;
    case 0xFB01: out += "fi"; break;
    case 0xFB02: out += "fl"; break;
    case 0xFB03: out += "ffi"; break;
    case 0xFB04: out += "ffl"; break;
    case 0xFB06: out += "st"; break;
    case 0x2010:
    case 0x2011:
    case 0x2212: out += '-'; break;
    case 0x2032: out += '\''; break;
    case 0x2033: out += '"'; break;
    default: break;
  }
}

// A number as PDF writes it, whatever the process's locale: fixed, two decimals.
std::string Number(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof(text), value, std::chars_format::fixed, 2);
  return error == std::errc() ? std::string(text, end) : std::string("0");
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex = "<";
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex + ">";
}

}  // namespace

std::string ToWinAnsi(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();)
    if (const std::optional<char32_t> c = NextCodePoint(utf8, i)) AppendWinAnsi(*c, out);
  return out;
}

std::string InvisibleTextOperators(const std::vector<PageWord>& words, int pixelWidth, int pixelHeight,
                                   double pointWidth, double pointHeight, std::string_view font) {
  if (pixelWidth <= 0 || pixelHeight <= 0) return {};
  const double scaleX = pointWidth / pixelWidth;
  const double scaleY = pointHeight / pixelHeight;
  std::string ops;
  for (const PageWord& word : words) {
    const std::string text = ToWinAnsi(word.text);
    const double width = (word.right - word.left) * scaleX;
    if (text.empty() || width <= 0) continue;
    const double size = std::max(1.0, word.lineHeight * scaleY);
    // Tz stretches the glyphs' declared widths to the box; the space after a
    // word that does not end its line tells text extraction where words end.
    const double naturalWidth = static_cast<double>(text.size()) * kTextLayerGlyphWidth / 1000.0 * size;
    const double stretch = std::clamp(100.0 * width / naturalWidth, 1.0, 10000.0);
    ops += std::string(font) + " " + Number(size) + " Tf " + Number(stretch) + " Tz 1 0 0 1 " +
           Number(word.left * scaleX) + " " + Number(pointHeight - word.baseline * scaleY) + " Tm " +
           Hex(word.lineEnd ? text : text + " ") + " Tj\n";
  }
  return ops.empty() ? ops : "BT\n3 Tr\n" + ops + "ET\n";
}

}  // namespace kestrel
