// The multi-page TIFF of a conversion: one directory per page, 1 bit per
// pixel (min-is-white), Compression 3 (CCITT Group 3, one-dimensional),
// 200 dots per inch, written by libtiff. The first page creates the file,
// later pages are appended to it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrel {

class IEventLog;

// Adds the bitmap file `pagePath` as page `pageIndex` (0 creates the TIFF) to
// `tiffPath`, dithered to two colours, and deletes `pagePath`. 0 on success;
// 1 after the failure was logged.
int AppendPageToTiff(const std::string& tiffPath, const std::string& pagePath, int pageIndex, IEventLog& log);

// Writes one page of `width` x `height` to `tiffPath` (created when `append`
// is false), dithering the grey rows that `grayRow(y, out)` delivers (0 or an
// image error code). 0 or an image error code; `opened` tells whether the
// file could be opened at all.
int WriteTiffPage(const std::string& tiffPath, bool append, int width, int height,
                  const std::function<int(int, std::uint8_t*)>& grayRow, bool& opened);

}  // namespace kestrel
