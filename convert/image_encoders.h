// The encoders of the page images that are mailed: JPEG through libjpeg-turbo
// (24-bit colour, quality 75, the density in dots per inch) and PNG through
// libpng (8 bits per channel, RGB, the density in pixels per metre). The
// rows come from an IImageRows, RGB or grey; a grey row is widened to red =
// green = blue as it is written, so a fax page gives the same file either way.
//
// Each answers a Status, failed with an image error (image_error.h), and
// leaves `file` open; logging and removing a half-written file are the
// caller's. Several files may be written on several threads at once.
#pragma once

#include <cstdio>

#include "convert/image_rows.h"
#include "core/result.h"

namespace kestrel {

inline constexpr int kJpegQuality = 75;

// `channels`: 3 for RGB rows, 1 for grey rows.
[[nodiscard]] Status WriteJpegFile(std::FILE* file, IImageRows& rows, int width, int height, int channels, int dpiX,
                                   int dpiY);
[[nodiscard]] Status WritePngFile(std::FILE* file, IImageRows& rows, int width, int height, int channels, int dpiX,
                                  int dpiY);

}  // namespace kestrel
