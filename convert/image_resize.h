// Resizing of images with an area-averaging (box) filter: every output pixel
// is the average of the input area it covers, each input pixel weighted by
// the part of it that lies inside. Works on interleaved 8-bit channels (1 for
// grey, 3 for RGB), in fixed-point arithmetic, so the result does not depend
// on the machine.
#pragma once

#include <cstdint>

namespace kestrel {

// Scales `src` (width x height x channels bytes) into `dst` (newWidth x
// newHeight x channels). `channels` is 1 or 3. False for a size of 0, another
// channel count, or when the work buffers cannot be had.
bool ResizePixels(const std::uint8_t* src, int width, int height, int channels, std::uint8_t* dst, int newWidth,
                  int newHeight);

}  // namespace kestrel
