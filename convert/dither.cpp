#include "convert/dither.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

CTwoColourDither::CTwoColourDither(int width)
    : width_(std::max(width, 0)),
      current_(static_cast<std::size_t>(width_) + 2, 0),
      next_(static_cast<std::size_t>(width_) + 2, 0) {}

void CTwoColourDither::Row(const std::uint8_t* gray, std::uint8_t* packed) {
  int* __restrict cur = current_.data() + 1;
  int* __restrict below = next_.data() + 1;
  std::memset(packed, 0, (static_cast<std::size_t>(width_) + 7) / 8);
  for (int x = 0; x < width_; ++x) {
    const int carried = (cur[x] + 8) >> 4;
    const int g = gray[x];
    if (carried == 0 && (g == 0 || g == 255)) {
      // Pure black or white with nothing carried over: no error to spread.
      if (g == 0) packed[x >> 3] = static_cast<std::uint8_t>(packed[x >> 3] | (0x80u >> (x & 7)));
      continue;
    }
    const int value = g + carried;
    const bool black = value < 128;
    const int error = value - (black ? 0 : 255);
    if (black) packed[x >> 3] = static_cast<std::uint8_t>(packed[x >> 3] | (0x80u >> (x & 7)));
    cur[x + 1] += error * 7;
    below[x - 1] += error * 3;
    below[x] += error * 5;
    below[x + 1] += error;
  }
  current_.swap(next_);
  std::fill(next_.begin(), next_.end(), 0);
}

}  // namespace kestrel
