// CSmtpReplyReader: reads SMTP replies ("250-..." continuation lines and the
// final "250 ..." line) from a mail channel, each within one total deadline
// that data trickling in does not extend, and ending within about 100 ms of
// the owner's stop flag. Bytes after a reply are kept for the next one.
// Server bytes are untrusted: a reply is read into a buffer that grows in
// steps of 4096 bytes up to 1 MiB, lines are parsed within it, and the reply
// text handed out has every control character turned into a blank.
// Failures are returned as a Status (step "reply"; the code of a complete
// reply that was not the expected one). Not thread-safe: one per session.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.h"
#include "mail/mail_channel.h"

namespace kestrel {

// The text of a reply that did not come within its deadline.
inline constexpr std::string_view kReplyTimedOutText = "Timed Out waiting for response from SMTP server";

class CSmtpReplyReader {
 public:
  // Reads one reply from `channel` within `timeoutMs`; ok when its final line
  // carries `expected`. A stop (`stop` turning true) ends the wait at once.
  Status Read(IMailChannel& channel, int expected, int timeoutMs, const std::atomic<bool>* stop);

  // Forgets everything: a new connection.
  void Reset();
  // Drops the bytes received after the last reply (they came before STARTTLS
  // and could be anyone's, or the connection is gone).
  void DropPending() { pending_.clear(); }
  // Replaces the text handed out as the last reply: the reason in words of a
  // failure that had no reply of its own (a TLS failure).
  void SetText(std::string text) { text_ = std::move(text); }

  // The final line of the last reply (or at most 1024 bytes of what came
  // before a read failed), control characters turned into blanks.
  const std::string& Text() const { return text_; }
  int Code() const { return code_; }
  // The text of the last reply after its code and separator: a login prompt.
  std::string Prompt() const { return text_.size() > 4 ? text_.substr(4) : std::string(); }
  // Whether the last complete reply (a 250 to EHLO) lists `keyword` as an
  // extension, in any letter case; with a `parameter` ("AUTH", "XOAUTH2"),
  // whether the extension's line also names that parameter.
  bool Offers(std::string_view keyword, std::string_view parameter = {}) const;
  // The buffer size the last reply needed (256, 4352, ...).
  size_t BufferSize() const { return bufferSize_; }
  // A read since Reset got no complete reply: the server is out of step or gone.
  bool Missed() const { return missed_; }
  // The last read ended at its deadline.
  bool TimedOut() const { return timedOut_; }

 private:
  Status Missing(const std::string& received, size_t bufferSize, std::string why);

  std::string pending_;  // bytes received after the last complete reply
  std::string lines_;    // every line of the last complete reply
  std::string text_;
  int code_ = 0;
  size_t bufferSize_ = 0;
  bool missed_ = false;
  bool timedOut_ = false;
};

}  // namespace kestrel
