// The record bytes and header sizes of the Structured Fax File format, shared
// by its reader (sff_file.h) and its writer (sff_writer.h). Constants only.
#pragma once

#include <cstdint>

namespace kestrel {

inline constexpr std::uint8_t kSffPageMarker = 254;       // a page header follows (length 0: the end)
inline constexpr std::uint8_t kSffEscape = 255;           // 255 0: faulty line; 255 n: n bytes of user info
inline constexpr std::uint8_t kSffLastCodedLength = 216;  // 1 to 216: a coded line of that many bytes
inline constexpr std::uint8_t kSffLastWhiteSkip = 253;    // 217 to 253: 1 to 37 white lines
inline constexpr unsigned kSffDocumentHeaderSize = 20;
inline constexpr unsigned kSffPageHeaderSize = 16;  // the bytes after the length byte

}  // namespace kestrel
