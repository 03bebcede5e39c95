#include "mail/mail_address.h"

#include <algorithm>

#include "mail/mail_error.h"

namespace kestrel {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool HoldsControl(const std::string& s) { return std::any_of(s.begin(), s.end(), IsControl); }

// An address goes between "<" and ">" in RCPT TO and in the To header; one
// that holds either, or a blank, would read back as something else.
bool IsReadableAddress(const std::string& s) {
  return std::none_of(s.begin(), s.end(), [](char c) { return c == '<' || c == '>' || IsSpace(c) || IsControl(c); });
}

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

std::vector<CMailAddress> ParseAddressList(std::string_view text, std::vector<std::string>* unreadable) {
  std::vector<CMailAddress> out;
  for (std::string_view piece : Pieces(text)) {
    std::string name, address;
    bool readable = true;
    size_t open = piece.find('<');
    if (open != std::string_view::npos) {
      size_t close = piece.find('>');
      readable = close != std::string_view::npos && close > open;
      if (readable) {
        name = TrimmedText(piece.substr(0, open));
        address = TrimmedText(piece.substr(open + 1, close - open - 1));
      }
    } else {
      address = TrimmedText(piece);
    }
    if (readable && address.empty()) continue;
    if (!readable || !IsReadableAddress(address) || HoldsControl(name)) {
      if (unreadable) unreadable->push_back(TrimmedText(piece));
      continue;
    }
    out.emplace_back(std::move(name), std::move(address));
  }
  return out;
}

}  // namespace kestrel
