// The transfer of one mail on a conversation that is logged in: MAIL FROM,
// RCPT TO for every recipient, DATA, the bytes, and the end-of-data line,
// for a composed CSMTPMessage or for a queue file written by SaveToDisk,
// whose bytes go out unchanged in blocks. A queue file is untrusted: its
// recipients come from its To header, each entry read on its own.
// Recipients the server refuses cost only themselves: the mail goes to the
// others in the same transaction, and the refused ones are handed back and
// named in one event text. Only when it refuses every one does the transfer
// fail at "RCPT TO" (with a 4xx code when any was refused for now).
// Failures are returned as a Status (step "MAIL FROM", "RCPT TO", "DATA",
// "message", "body part" or "end of data"; code = the server's reply code or
// 0); the conversation writes their event texts. A failure in the middle of
// the data drops the connection, so that the server discards the message.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/result.h"
#include "mail/mail_address.h"

namespace kestrel {

class CSMTPMessage;
class IEventLog;
class ISmtpConversation;

// A recipient the server refused at RCPT TO.
struct RefusedRecipient {
  CMailAddress address;
  int code = 0;       // the reply code: 4xx refused for now, 5xx for good
  std::string reply;  // the reply's last line
  bool ForNow() const { return code >= 400 && code < 500; }
  bool operator==(const RefusedRecipient&) const = default;
};

// True when `failure` is a server's 5xx for the whole message (to MAIL FROM,
// to every RCPT TO, to DATA or to the end of the data): sending the same
// message again would meet the same answer.
bool RefusedForGood(const Failure& failure);

// Who is still owed the mail after an attempt at `asked`: when the server
// took it (`taken`), those it refused for now; when it did not, everyone but
// those it refused for good, who are never asked again.
std::vector<CMailAddress> OwedRecipients(const std::vector<CMailAddress>& asked, bool taken,
                                         const std::vector<RefusedRecipient>& refused);

// `refused` is cleared, then receives the recipients the server refused.
Status TransferMessage(ISmtpConversation& conversation, const CSMTPMessage& message,
                       std::vector<RefusedRecipient>& refused);
// MAIL FROM `sender`, the file's bytes in blocks of `blockSize`; `log` takes
// the texts of reading its To header.
Status TransferQueueFile(ISmtpConversation& conversation, IEventLog& log, const std::string& path,
                         const CMailAddress& sender, size_t blockSize, std::vector<RefusedRecipient>& refused);

}  // namespace kestrel
