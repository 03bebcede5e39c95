// The transfer of one mail on a conversation that is logged in: MAIL FROM,
// RCPT TO for every recipient, DATA, the bytes, and the end-of-data line,
// for a composed CSMTPMessage or for a queue file written by SaveToDisk,
// whose bytes go out unchanged in blocks. A queue file is untrusted: its
// recipients come from its To header, each entry read on its own.
// Failures are returned as a Status (step "MAIL FROM", "RCPT TO", "DATA",
// "message", "body part" or "end of data"; code = the server's reply code or
// 0); the conversation writes their event texts. A failure in the middle of
// the data drops the connection, so that the server discards the message.
#pragma once

#include <cstddef>
#include <string>

#include "core/result.h"

namespace kestrel {

class CMailAddress;
class CSMTPMessage;
class IEventLog;
class ISmtpConversation;

Status TransferMessage(ISmtpConversation& conversation, const CSMTPMessage& message);
// MAIL FROM `sender`, the file's bytes in blocks of `blockSize`; `log` takes
// the texts of reading its To header.
Status TransferQueueFile(ISmtpConversation& conversation, IEventLog& log, const std::string& path,
                         const CMailAddress& sender, size_t blockSize);

}  // namespace kestrel
