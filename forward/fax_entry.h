// FaxEntry: the durable record of one received fax between the line and the
// mailbox. The reception side writes it when a call has ended with a captured
// fax; the forwarding side works through the entries in arrival order and
// notes each finished step in the entry, so that a restart never repeats a
// step that completed and never forgets a fax that was not yet mailed.
//
// The file form is "Key=value" lines under a first line naming the format;
// bytes below 0x20, "%" and DEL in a value are written as "%XX". Entry files
// are the program's own but are read as untrusted: at most kMaxEntryBytes,
// unknown keys ignored, numbers range-checked, an entry without a capture
// file refused. Failures are values: ParseFaxEntry answers nullopt.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "capi/fax_call_record.h"

namespace kestrel {

enum class MailStep : int {
  Pending = 0,   // not yet accepted by a server nor queued
  Sent = 1,      // the server answered 250 to the mail
  Queued = 2,    // the mail is in the mail queue
  Unmailed = 3,  // nobody to mail it to: only journaled
};

struct FaxEntry {
  std::string name;    // file name in the inbox folder; sorts in arrival order
  FaxCallRecord call;  // the call's record, recipients text included
  MailStep mail = MailStep::Pending;
  std::string messageId;  // the Message-ID of the fax's mail, once composed
  std::string faxFile;    // the file the journal names, once converted
  // What the journal row says beside the file, once converted: empty for a
  // whole, clean fax, else the incomplete, damaged-page and not-converted
  // notes of its mail.
  std::string status;
  bool journaled = false;  // the journal row was written (or its failure logged)
  // The addresses the mail server refused at the mail step, separated by
  // blanks (an address holds none).
  std::string refusedRecipients;
};

inline constexpr std::size_t kMaxEntryBytes = 64 * 1024;

// The file form of `entry` (its name is not part of it).
[[nodiscard]] std::string FaxEntryText(const FaxEntry& entry);

// Reads the file form; nullopt for text that is not an entry. The name is left empty.
[[nodiscard]] std::optional<FaxEntry> ParseFaxEntry(const std::string& text);

}  // namespace kestrel
