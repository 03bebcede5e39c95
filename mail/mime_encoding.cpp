#include "mail/mime_encoding.h"

#include <strings.h>

#include "platform/text_encoding.h"

namespace kestrel {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr size_t kQpLineLimit = 75;  // characters before the soft-break "="

void AppendEscape(std::string& out, unsigned char c) {
  out += '=';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 128) return false;
  return true;
}

// What an encoded word in a display name may hold as it stands (RFC 2047, 5 (3)).
bool IsPhraseWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
         c == '+' || c == '-' || c == '/';
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Length of the piece of `line` (75 characters, no line end) that goes before a
// soft break.
size_t SoftBreakCut(std::string_view line) {
  for (size_t k = line.size(); k-- > 0;) {
    if (line[k] == ' ' || line[k] == '\t') return k + 1;
    if (k >= 2 && line[k - 2] == '=' && IsHexDigit(line[k - 1]) && IsHexDigit(line[k])) return k + 1;
  }
  // Neither: cut after the last character, but never inside an escape group
  // that started in the last two places.
  size_t cut = line.size();
  if (cut >= 1 && line[cut - 1] == '=') return cut - 1;
  if (cut >= 2 && line[cut - 2] == '=') return cut - 2;
  return cut;
}

}  // namespace

DeclaredText InDeclaredCharset(std::string_view utf8, std::string_view charset) {
  if (strcasecmp(std::string(charset).c_str(), "iso-8859-1") == 0) {
    if (auto latin1 = Utf8ToLatin1(utf8)) return {std::move(*latin1), std::string(charset)};
    return {std::string(utf8), "utf-8"};
  }
  return {std::string(utf8), std::string(charset)};
}

std::string EncodeHeaderWord(std::string_view utf8, std::string_view charset, bool inPhrase) {
  if (IsAscii(utf8)) return std::string(utf8);
  DeclaredText text = InDeclaredCharset(utf8, charset);
  std::string out = "=?" + text.charset + "?q?";
  for (unsigned char c : text.bytes) {
    if (c == ' ')
      out += '_';
    else if (c == '=' || c == '?' || c == '_' || c >= 128 || (inPhrase && !IsPhraseWordChar(c)))
      AppendEscape(out, c);
    else
      out += char(c);
  }
  out += "?=";
  return out;
}

std::string QuotedPrintableEncode(std::string_view bytes) {
  std::string encoded;
  encoded.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char c : bytes) {
    if ((c >= 33 && c <= 60) || (c >= 62 && c <= 126) || c == '\r' || c == '\n' || c == '\t' || c == ' ')
      encoded += char(c);
    else
      AppendEscape(encoded, c);
  }

  std::string out;
  out.reserve(encoded.size() + encoded.size() / 25);
  std::string_view rest = encoded;
  while (!rest.empty()) {
    // A line end (or the end of the text) within the limit closes the piece.
    size_t end = rest.find_first_of("\r\n");
    if (end <= kQpLineLimit) {  // npos, no line end, lies beyond the limit
      out.append(rest.substr(0, end + 1));
      rest.remove_prefix(end + 1);
      continue;
    }
    if (rest.size() <= kQpLineLimit) {
      out.append(rest);
      break;
    }
    size_t cut = SoftBreakCut(rest.substr(0, kQpLineLimit));
    out.append(rest.substr(0, cut));
    out += "=\r\n";
    rest.remove_prefix(cut);
  }
  return out;
}

std::string DoubleLeadingDots(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = c == '\n';
  }
  return out;
}

}  // namespace kestrel
