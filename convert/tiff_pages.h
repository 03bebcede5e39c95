// The pages of the multi-page TIFF that is mailed: one directory per page,
// 1 bit per pixel (min-is-white), Compression 3 (CCITT Group 3,
// one-dimensional), the resolution in dots per inch, written by libtiff from
// grey rows dithered to two colours (Floyd-Steinberg) as they arrive. The
// first page creates the file, later pages are appended to it.
//
// libtiff's own messages are kept from standard error and counted per file,
// so nothing process-wide changes; several files may be written at once.
#pragma once

#include <string>

#include "convert/image_rows.h"

namespace kestrel {

// Writes one page of `width` x `height` to `tiffPath` (created, replacing any
// file there, when `append` is false), dithering the grey rows (0 black to
// 255 white) that `grey` gives. 0 or an image error code; `opened` tells
// whether the file could be opened at all.
int WriteTiffPage(const std::string& tiffPath, bool append, IImageRows& grey, int width, int height, int dpiX,
                  int dpiY, bool& opened);

}  // namespace kestrel
