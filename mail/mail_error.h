// The mail layer's last-error value. The mail client reports failures as event
// texts and leaves a number for its caller, with the values the rest of the
// system knows (13, 1022, 10022, 10043, 10060); system failures leave errno.
// The value is kept per thread, like the platform error it stands in for.
// Also home of the two text guards every outside text passes before it
// reaches a header line, an SMTP command or an event text.
#pragma once

#include <string>

namespace kestrel {

inline constexpr int kMailErrorInvalidData = 13;       // unbalanced "<" in an address list
inline constexpr int kMailErrorBadCommand = 1022;      // the server refused a command
inline constexpr int kMailErrorInvalidArgument = 10022;  // host or local address unknown
inline constexpr int kMailErrorUnexpectedReply = 10043;  // reply without the expected code
inline constexpr int kMailErrorTimedOut = 10060;       // no reply within the reply timeout

// The last error set on this thread by the mail layer (0 when none).
int MailLastError();
void SetMailLastError(int error);

// strerror() of `errnoValue`, trimmed at both ends; "" for 0.
std::string SystemErrorText(int errnoValue);

// `text` with every CR and LF replaced by a blank: what keeps data from
// starting a new header line or SMTP command.
std::string WithoutLineBreaks(std::string text);

// `text` with every control character (bytes 0 to 31 and 127) replaced by a
// blank: what outside text (server replies, file names) must become before it
// goes into an event text, so that one event stays one line.
std::string OneLine(std::string text);

}  // namespace kestrel
