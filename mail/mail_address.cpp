#include "mail/mail_address.h"

#include "mail/mail_error.h"

namespace kestrel {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool HoldsLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The raw pieces between separators, untrimmed, empty ones included.
std::vector<std::string_view> Pieces(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;", start);
    if (end == std::string_view::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string CMailAddress::PrintedForm() const {
  if (name_.empty()) return address_;
  return name_ + " <" + address_ + ">";
}

std::string TrimmedText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  for (std::string_view piece : Pieces(text)) {
    std::string trimmed = TrimmedText(piece);
    if (!trimmed.empty()) out.push_back(std::move(trimmed));
  }
  return out;
}

std::vector<CMailAddress> ParseAddressList(std::string_view text) {
  std::vector<CMailAddress> out;
  for (std::string_view piece : Pieces(text)) {
    std::string name, address;
    size_t open = piece.find('<');
    if (open != std::string_view::npos) {
      size_t close = piece.find('>');
      if (close == std::string_view::npos || close < open) {
        SetMailLastError(kMailErrorInvalidData);
        return {};
      }
      name = TrimmedText(piece.substr(0, open));
      address = TrimmedText(piece.substr(open + 1, close - open - 1));
    } else {
      address = TrimmedText(piece);
    }
    if (address.empty() || HoldsLineBreak(name) || HoldsLineBreak(address)) continue;
    out.emplace_back(std::move(name), std::move(address));
  }
  return out;
}

}  // namespace kestrel
