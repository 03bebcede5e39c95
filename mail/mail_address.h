// Mail addresses and the recipient-list syntax of the forwarding tables:
// "Name <address>" or a bare address, separated by "," or ";". The list text
// comes from the database or a queue file and is untrusted: an entry that
// cannot be read as one address is dropped on its own, the others stay. What
// the parser accepts prints back (PrintedForm, joined by ",") into a text that
// parses to the same addresses, so a queue file's To header holds exactly the
// recipients the mail was composed for.
// Failure style: nothing fails; what cannot be read is handed back as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class CMailAddress {
 public:
  CMailAddress() = default;
  CMailAddress(std::string name, std::string address) : name_(std::move(name)), address_(std::move(address)) {}

  const std::string& Name() const { return name_; }
  const std::string& Address() const { return address_; }

  // "Name <address>", or the address alone when the name is empty.
  std::string PrintedForm() const;

  bool operator==(const CMailAddress&) const = default;

 private:
  std::string name_;
  std::string address_;
};

// The pieces of `text` between "," and ";", trimmed, empty pieces skipped.
std::vector<std::string> SplitList(std::string_view text);

// `text` without white space at either end.
std::string TrimmedText(std::string_view text);

// Parses a recipient list. A piece with "<" takes the name before the first
// "<" and the address up to the first ">"; without "<" the whole piece is the
// address. Both are trimmed; pieces with an empty address are skipped. A
// piece that cannot be read is left out and appended (trimmed) to
// `*unreadable` when given: its first ">" does not follow its
// first "<" (or there is none), its address holds "<", ">", white space or a
// control character, or its name holds a control character.
std::vector<CMailAddress> ParseAddressList(std::string_view text, std::vector<std::string>* unreadable = nullptr);

}  // namespace kestrel
