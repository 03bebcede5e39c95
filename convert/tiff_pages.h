// The pages of the multi-page TIFF that is mailed: one directory per page,
// 1 bit per pixel (min-is-white), Compression 3 (CCITT Group 3,
// one-dimensional), the resolution in dots per inch, written by libtiff from
// grey rows dithered to two colours (Floyd-Steinberg) as they arrive. The
// first page creates the file, later pages are appended to it.
//
// libtiff's own messages are kept from standard error and counted per file,
// so nothing process-wide changes; several files may be written at once.
// Failures are a Status holding an image error (image_error.h); nothing is logged here.
#pragma once

#include <string>

#include "convert/image_rows.h"
#include "core/result.h"

namespace kestrel {

// Writes one page of `width` x `height` to `tiffPath` (created, replacing any
// file there, when `append` is false), dithering the grey rows (0 black to
// 255 white) that `grey` gives. Fails with an image error (image_error.h)
// whose step is kTiffOpenStep when the file could not be opened at all (or
// there was nothing to write), kTiffWriteStep when writing it failed.
inline constexpr char kTiffOpenStep[] = "open";
inline constexpr char kTiffWriteStep[] = "write";
[[nodiscard]] Status WriteTiffPage(const std::string& tiffPath, bool append, IImageRows& grey, int width, int height,
                                   int dpiX, int dpiY);

}  // namespace kestrel
