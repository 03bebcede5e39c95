// Transcoding between Kestrel's internal UTF-8 and the 8-bit and 16-bit
// encodings found in files from Windows (registry exports) and required on the
// wire (ISO-8859-1 mail parts). Input bytes are untrusted: malformed UTF-8 and
// lone surrogates decode to U+FFFD, never to a read past the input.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Windows-1252 bytes to UTF-8. The five bytes 1252 leaves undefined map to
// the C1 code points of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; characters 1252 cannot hold become "?".
std::string Utf8ToCp1252(std::string_view utf8);

// UTF-16LE bytes (without BOM) to UTF-8. An odd trailing byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes);
// UTF-8 to UTF-16LE bytes (without BOM).
std::string Utf8ToUtf16Le(std::string_view utf8);

// UTF-8 to ISO-8859-1, or nothing when some character lies beyond U+00FF or
// the input is not valid UTF-8.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

}  // namespace kestrel
