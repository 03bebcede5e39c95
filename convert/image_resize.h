// Resizing of 24-bit RGB images with an area-averaging (box) filter: every
// output pixel is the average of the input area it covers, each input pixel
// weighted by the part of it that lies inside. Fixed-point arithmetic, so the
// result does not depend on the machine.
#pragma once

#include <cstdint>

namespace kestrel {

// Scales `src` (width x height x 3 bytes) into `dst` (newWidth x newHeight x 3).
// `gray` promises red = green = blue in every source pixel, which lets the
// filter work on one channel; the result is the same. False for a size of 0
// or when the work buffers cannot be had.
bool ResizeRgb(const std::uint8_t* src, int width, int height, std::uint8_t* dst, int newWidth, int newHeight,
               bool gray);

}  // namespace kestrel
