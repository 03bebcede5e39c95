// The texts of the mail layer's failures: a system error in words, and the
// two guards every outside text passes before it reaches a header line, an
// SMTP command or an event text.
// Failure style: plain functions that cannot fail; the mail layer returns its
// failures as Status/Result (core/result.h) and keeps no error number.
#pragma once

#include <string>

namespace kestrel {

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
