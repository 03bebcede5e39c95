#include "mail/base64_codec.h"

#include <cstdint>

namespace kestrel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a base64 symbol, 0 for "=", -1 for a byte to skip.
int SymbolValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 0;
  return -1;
}

}  // namespace

std::string CBase64Codec::Encode(std::string_view data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v =
        (uint32_t(uint8_t(data[i])) << 16) | (uint32_t(uint8_t(data[i + 1])) << 8) | uint32_t(uint8_t(data[i + 2]));
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t v = uint32_t(uint8_t(data[i])) << 16;
    if (rest == 2) v |= uint32_t(uint8_t(data[i + 1])) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string CBase64Codec::Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = SymbolValue(c);
    if (v < 0) continue;  // white space (7..13, 32) and foreign bytes
    bits = (bits << 6) | uint32_t(v);
    if (++count == 4) {
      out += char((bits >> 16) & 0xFF);
      out += char((bits >> 8) & 0xFF);
      out += char(bits & 0xFF);
      bits = 0;
      count = 0;
    }
  }
  // An incomplete final group still yields its whole bytes.
  if (count == 2) {
    out += char((bits >> 4) & 0xFF);
  } else if (count == 3) {
    out += char((bits >> 10) & 0xFF);
    out += char((bits >> 2) & 0xFF);
  }
  return out;
}

std::string CBase64Codec::DecodeText(std::string_view text) {
  std::string out = Decode(text);
  size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return out;
}

}  // namespace kestrel
