// Mail addresses and the recipient-list syntax of the forwarding tables: the
// address lists of RFC 5322 ("Name <address>", "\"Doe, John\" <address>", a
// bare address, comments in parentheses, groups "Team: a@x, b@y;"), with ";"
// as a separator beside ",". The list text comes from the database or a queue
// file and is untrusted: an entry that cannot be read as one address is
// dropped on its own, the others stay; every scan is bounded by the text.
// What the parser accepts prints back (PrintedForm, joined by ",") into a
// text that parses to the same addresses, so a queue file's To header holds
// exactly the recipients the mail was composed for.
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

  // "Name <address>", the name quoted when it holds more than words
  // (DisplayNameForm), or the address alone when the name is empty.
  std::string PrintedForm() const;

  bool operator==(const CMailAddress&) const = default;

 private:
  std::string name_;
  std::string address_;
};

// `name` as the display name of an address: unchanged when it is words of
// atom characters (bytes of 128 and more count as such) separated by single
// blanks, otherwise a quoted string with "\" before each "\"" and "\\".
std::string DisplayNameForm(std::string_view name);

// The pieces of `text` between "," and ";", trimmed, empty pieces skipped.
// For lists of file names: quotes mean nothing here.
std::vector<std::string> SplitList(std::string_view text);

// `text` without white space at either end.
std::string TrimmedText(std::string_view text);

// Parses a recipient list. Entries end at "," or ";" outside quoted strings
// and comments; a quote or parenthesis that is never closed protects nothing,
// so the entry ends at the next separator all the same (and cannot be read).
// Comments are removed; a group's name ("Team:") is dropped and its members
// are read as entries of their own. An entry with "<" takes the display name
// before it (quoted strings unquoted, runs of blanks made one) and the
// address up to the next ">"; without "<" the whole entry is the address.
// Entries with an empty address are skipped. An entry that cannot be read is
// left out and appended (trimmed) to `*unreadable` when given: a quote or
// comment not closed, a ">" before its "<" or none after it, an address
// holding "<", ">", white space, a control character, an unbalanced quote,
// or ":", "(" or ")" outside quotes, or a name holding a control character.
std::vector<CMailAddress> ParseAddressList(std::string_view text, std::vector<std::string>* unreadable = nullptr);

}  // namespace kestrel
