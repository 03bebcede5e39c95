#include "mail/mail_address.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr size_t kNone = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool HoldsControl(std::string_view s) { return std::any_of(s.begin(), s.end(), IsControl); }

// The atom characters of RFC 5322, and every byte of 128 or more (UTF-8).
bool IsAtomChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x80) return true;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != kNone;
}

// Where the entry that begins at `start` ends: the first "," or ";" outside
// a quoted string and a comment. When a quote or comment is still open at
// the end of the text it protected nothing: the first separator ends the
// entry instead, so one stray quote costs one entry and not the rest.
size_t EntryEnd(std::string_view text, size_t start) {
  bool quoted = false;
  int depth = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted || depth > 0) {
      if (c == '\\')
        ++i;
      else if (quoted && c == '"')
        quoted = false;
      else if (!quoted && c == '(')
        ++depth;
      else if (!quoted && c == ')')
        --depth;
    } else if (c == '"') {
      quoted = true;
    } else if (c == '(') {
      depth = 1;
    } else if (c == ',' || c == ';') {
      return i;
    }
  }
  if (!quoted && depth == 0) return text.size();
  const size_t raw = text.find_first_of(",;", start);
  return raw == kNone ? text.size() : raw;
}

// `entry` with each comment replaced by one blank, quoted strings kept as
// they stand; false for a comment or quote not closed or a stray ")".
bool StripComments(std::string_view entry, std::string& out) {
  bool quoted = false;
  int depth = 0;
  for (size_t i = 0; i < entry.size(); ++i) {
    const char c = entry[i];
    if (depth > 0) {
      if (c == '\\')
        ++i;
      else if (c == '(')
        ++depth;
      else if (c == ')' && --depth == 0)
        out += ' ';
      continue;
    }
    if (quoted) {
      out += c;
      if (c == '\\' && i + 1 < entry.size())
        out += entry[++i];
      else if (c == '"')
        quoted = false;
      continue;
    }
    if (c == '(')
      depth = 1;
    else if (c == ')')
      return false;
    else {
      if (c == '"') quoted = true;
      out += c;
    }
  }
  return !quoted && depth == 0;
}

// The first of `chars` at or after `from` outside quoted strings.
size_t FindOutsideQuotes(std::string_view s, std::string_view chars, size_t from = 0) {
  bool quoted = false;
  for (size_t i = from; i < s.size(); ++i) {
    const char c = s[i];
    if (quoted) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (chars.find(c) != kNone) {
      return i;
    }
  }
  return kNone;
}

// A display name as a person reads it: quoted strings unquoted, each run of
// blanks outside them made one blank, trimmed.
std::string DecodedPhrase(std::string_view phrase) {
  std::string out;
  bool quoted = false, blank = false;
  for (size_t i = 0; i < phrase.size(); ++i) {
    const char c = phrase[i];
    if (quoted) {
      if (c == '\\' && i + 1 < phrase.size())
        out += phrase[++i];
      else if (c == '"')
        quoted = false;
      else
        out += c;
      continue;
    }
    if (IsSpace(c)) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    if (c == '"')
      quoted = true;
    else
      out += c;
  }
  return TrimmedText(out);
}

// An address goes between "<" and ">" in RCPT TO and in the To header; it
// must read back as itself there: no bracket, blank or control character,
// its quotes closed, nothing outside them that the list syntax reads.
bool IsReadableAddress(std::string_view s) {
  if (std::any_of(s.begin(), s.end(), [](char c) { return c == '<' || c == '>' || IsSpace(c) || IsControl(c); }))
    return false;
  std::string stripped;
  return StripComments(s, stripped) && stripped == s && FindOutsideQuotes(s, ":()") == kNone;
}

enum class EntryKind { kAddress, kEmpty, kUnreadable };

EntryKind ParseEntry(std::string_view entry, CMailAddress& out) {
  std::string s;
  if (!StripComments(entry, s)) return EntryKind::kUnreadable;
  std::string_view rest = s;
  // "Team: member": the group's name goes, its member stays.
  const size_t firstAngle = FindOutsideQuotes(rest, "<");
  const size_t colon = FindOutsideQuotes(rest, ":");
  if (colon != kNone && colon < firstAngle && FindOutsideQuotes(rest.substr(0, colon), "@") == kNone)
    rest.remove_prefix(colon + 1);

  std::string name, address;
  const size_t open = FindOutsideQuotes(rest, "<>");
  if (open != kNone) {
    if (rest[open] == '>') return EntryKind::kUnreadable;
    const size_t close = FindOutsideQuotes(rest, ">", open + 1);
    // A line break in the name would be one blank once decoded: refused as it stands.
    if (close == kNone || HoldsControl(rest.substr(0, open))) return EntryKind::kUnreadable;
    name = DecodedPhrase(rest.substr(0, open));
    address = TrimmedText(rest.substr(open + 1, close - open - 1));
  } else {
    address = TrimmedText(rest);
  }
  if (address.empty()) return EntryKind::kEmpty;
  if (!IsReadableAddress(address)) return EntryKind::kUnreadable;
  out = CMailAddress(std::move(name), std::move(address));
  return EntryKind::kAddress;
}

}  // namespace

std::string DisplayNameForm(std::string_view name) {
  bool plain = !name.empty() && name.front() != ' ' && name.back() != ' ';
  for (size_t i = 0; plain && i < name.size(); ++i)
    plain = IsAtomChar(name[i]) || (name[i] == ' ' && name[i + 1] != ' ');
  if (plain) return std::string(name);
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string CMailAddress::PrintedForm() const {
  if (name_.empty()) return address_;
  return DisplayNameForm(name_) + " <" + address_ + ">";
}

std::string TrimmedText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;", start);
    if (end == kNone) end = text.size();
    std::string trimmed = TrimmedText(text.substr(start, end - start));
    if (!trimmed.empty()) out.push_back(std::move(trimmed));
    start = end + 1;
  }
  return out;
}

std::vector<CMailAddress> ParseAddressList(std::string_view text, std::vector<std::string>* unreadable) {
  std::vector<CMailAddress> out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = EntryEnd(text, start);
    const std::string_view entry = text.substr(start, end - start);
    start = end + 1;
    CMailAddress address;
    switch (ParseEntry(entry, address)) {
      case EntryKind::kAddress: out.push_back(std::move(address)); break;
      case EntryKind::kEmpty: break;
      case EntryKind::kUnreadable:
        if (unreadable) unreadable->push_back(TrimmedText(entry));
        break;
    }
  }
  return out;
}

}  // namespace kestrel
