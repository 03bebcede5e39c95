// Mail addresses and the recipient-list syntax of the forwarding tables:
// "Name <address>" or a bare address, separated by "," or ";". The list text
// comes from the database or a queue file and is untrusted: an entry holding a
// CR or LF is dropped, so no data can start a new header line or SMTP command.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class CMailAddress {
 public:
  CMailAddress() = default;
  CMailAddress(std::string name, std::string address)
      : name_(std::move(name)), address_(std::move(address)) {}

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
// "<" and the address up to the first ">"; a piece whose first ">" does not
// follow its first "<" empties the whole result and sets the mail error 13.
// Pieces with an empty address, or with CR or LF in name or address, are
// dropped.
std::vector<CMailAddress> ParseAddressList(std::string_view text);

}  // namespace kestrel
