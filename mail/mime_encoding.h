// The text encoders of the mail format: charset selection for Kestrel's UTF-8
// texts, encoded words for header values, quoted-printable bodies and the dot
// rule of the SMTP DATA phase. All work on bytes in memory.
// Failure style: nothing fails; every input has an encoding.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// A text in the bytes of the charset it is declared with.
struct DeclaredText {
  std::string bytes;
  std::string charset;
};

// `utf8` in the bytes of `charset`. "iso-8859-1" (any case) gets ISO-8859-1
// bytes; a text that ISO-8859-1 cannot hold stays UTF-8 and is declared
// "utf-8". Other charsets keep the UTF-8 bytes and their own name.
DeclaredText InDeclaredCharset(std::string_view utf8, std::string_view charset);

// A header value: unchanged when it is plain ASCII, otherwise one encoded word
// "=?charset?q?...?=" (blank as "_"; "=", "?", "_" and bytes of 128 or more as
// "=XX"), never split. The charset follows InDeclaredCharset. A word for a
// display name (`inPhrase`) also writes every byte but letters, digits and
// "!*+-/" as "=XX", so that no "," or quote in it splits an address list.
std::string EncodeHeaderWord(std::string_view utf8, std::string_view charset, bool inPhrase = false);

// Quoted-printable of `bytes`: 33..60, 62..126, CR, LF, tab and blank copied,
// every other byte "=XX"; output lines of at most 76 characters, soft breaks
// ("=" CR LF) placed after white space or a whole escape group where possible.
std::string QuotedPrintableEncode(std::string_view bytes);

// Every line that begins with "." gets one more "." in front, the first line
// included, so that no line of a DATA phase ends the message early.
std::string DoubleLeadingDots(std::string_view text);

}  // namespace kestrel
