// Base64 of RFC 2045: the encoder for attachments and login answers, the decoder
// for the server's login prompts and CRAM-MD5 challenges. The decoder reads
// untrusted server text: it skips the white-space bytes 7 to 13 and 32, ignores
// bytes outside the alphabet, and never reads past its input.
// Failure style: nothing fails; bytes that are not base64 are skipped.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

class CBase64Codec {
 public:
  // Base64 of `data` with "=" padding and no line breaks.
  static std::string Encode(std::string_view data);

  // The bytes of `text`; "=" counts as zero bits, so padded input yields
  // trailing zero bytes (every 4 symbols give 3 bytes).
  static std::string Decode(std::string_view text);

  // Decode() up to its first zero byte: the decoded text as the login
  // exchanges compare it.
  static std::string DecodeText(std::string_view text);
};

}  // namespace kestrel
