// ISmtpConversation: what the logins (smtp_authentication.h) and the mail
// transfer (smtp_transfer.h) need of a connected SMTP session: a command and
// its reply, raw bytes of the message, the last reply, and the one event-log
// writer. The session implements it; each step names itself with its SMTP
// step ("AUTH LOGIN", "RCPT TO"), which also decides the operation name its
// event texts begin with.
// Failures are returned as Status/Failure (step = the SMTP step, code = the
// server's reply code or 0); the texts are written by the conversation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"
#include "mail/smtp_reply_reader.h"

namespace kestrel {

// One command and the reply it must get.
struct SmtpCommand {
  std::string_view step{};     // "RCPT TO": the failure's step
  std::string line{};          // sent with CR LF (CR and LF inside become blanks)
  int expected = 250;          // the reply code that means success
  std::string_view unsent{};   // the event text when the line could not be sent
  std::string_view refused{};  // the event text for any other reply; empty: none
  // The unsent text is followed by ", GetLastError returns: " and the reason.
  bool unsentWithReason = false;
  // A reply that asks for more ("334" to AUTH PLAIN): a failure with its
  // code, but without the refused text.
  int challenge = 0;
  bool sendLine = true;  // false: only the reply is read (the server spoke first)
  // The reply to the end of the data: the server may be checking the mail,
  // so it has a deadline of its own (the session's EndOfDataTimeout).
  bool endOfData = false;
};

class ISmtpConversation {
 public:
  // Sends the command, reads the reply and writes the texts of a failure.
  // A reply that was not the expected one fails with its code and the
  // refused text followed by the reply in brackets; a reply that never
  // came fails with code 0 and why.
  virtual Status Command(const SmtpCommand& command) = 0;
  // Sends `bytes` unchanged; on failure writes `unsent` + ", GetLastError
  // returns: " + the reason, drops the connection (the server then discards
  // the half-sent message) and fails with `step`.
  virtual Status SendData(std::string_view bytes, std::string_view step, std::string_view unsent) = 0;
  // Writes the event text of `failure` (" Operation, text") and returns it.
  virtual Failure Report(Failure failure) = 0;
  // Called after each block of a queue file; false aborts the transfer.
  virtual bool Progress(uint64_t sentSoFar, uint64_t total) = 0;
  // Drops the connection at once, without QUIT.
  virtual void Abort() = 0;
  virtual const CSmtpReplyReader& Reply() const = 0;

 protected:
  ~ISmtpConversation() = default;
};

}  // namespace kestrel
