// ImageFormat: the form in which a received fax is mailed, as the setting of
// that name stores it. The numbers are the ones kestrel.xml and the old
// registry key hold; a file may carry any other number, which the enumeration
// keeps as it is (it has a fixed underlying type) and which converts nothing.
#pragma once

#include <cstdint>

namespace kestrel {

enum class ImageFormat : std::int32_t {
  Jpg = 0,   // one JPEG file per page
  Png = 1,   // one PNG file per page
  Tiff = 2,  // one multi-page TIFF
  Sff = 3,   // the capture file itself
  Pdf = 4,   // one PDF of every page
};

inline constexpr std::int32_t ImageFormatNumber(ImageFormat f) { return static_cast<std::int32_t>(f); }
inline constexpr ImageFormat ImageFormatFromNumber(std::int32_t n) { return static_cast<ImageFormat>(n); }

// True for the formats that write one file per page.
inline constexpr bool IsPagePerFile(ImageFormat f) { return f == ImageFormat::Jpg || f == ImageFormat::Png; }

}  // namespace kestrel
