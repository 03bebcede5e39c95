#include "convert/image_resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace kestrel {
namespace {

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

// For each output pixel of one axis: the first input pixel it covers and
// `taps` weights (zero-padded), summing to kWeightOne exactly.
struct AxisWeights {
  int taps = 0;
  std::vector<int> first;
  std::vector<std::uint16_t> weights;
};

AxisWeights ComputeWeights(int in, int out) {
  AxisWeights a;
  const double scale = static_cast<double>(in) / out;
  std::vector<int> firsts(static_cast<std::size_t>(out)), counts(static_cast<std::size_t>(out));
  for (int i = 0; i < out; ++i) {
    const double lo = i * scale;
    const double hi = std::min<double>((i + 1) * scale, in);
    int first = std::min(static_cast<int>(std::floor(lo)), in - 1);
    int last = std::max(first, std::min(static_cast<int>(std::ceil(hi)) - 1, in - 1));
    firsts[static_cast<std::size_t>(i)] = first;
    counts[static_cast<std::size_t>(i)] = last - first + 1;
    a.taps = std::max(a.taps, last - first + 1);
  }
  a.first = firsts;
  a.weights.assign(static_cast<std::size_t>(out) * static_cast<std::size_t>(a.taps), 0);
  for (int i = 0; i < out; ++i) {
    const double lo = i * scale;
    const double hi = std::min<double>((i + 1) * scale, in);
    const int first = firsts[static_cast<std::size_t>(i)];
    const int count = counts[static_cast<std::size_t>(i)];
    // Rounded running sums, so the weights add up to exactly kWeightOne.
    double covered = 0;
    int given = 0;
    for (int t = 0; t < count; ++t) {
      const int j = first + t;
      const double overlap = std::max(0.0, std::min<double>(hi, j + 1) - std::max<double>(lo, j));
      covered += overlap;
      const int upTo = t == count - 1 ? kWeightOne : static_cast<int>(std::lround(covered / (hi - lo) * kWeightOne));
      a.weights[static_cast<std::size_t>(i) * static_cast<std::size_t>(a.taps) + static_cast<std::size_t>(t)] =
          static_cast<std::uint16_t>(std::clamp(upTo - given, 0, kWeightOne));
      given = std::max(given, upTo);
    }
  }
  return a;
}

}  // namespace

bool ResizeRgb(const std::uint8_t* src, int width, int height, std::uint8_t* dst, int newWidth, int newHeight,
               bool gray) {
  if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0) return false;
  const auto inRow = static_cast<std::size_t>(width) * 3;
  const auto outRow = static_cast<std::size_t>(newWidth) * 3;
  if (width == newWidth && height == newHeight) {
    std::memcpy(dst, src, inRow * static_cast<std::size_t>(height));
    return true;
  }
  try {
    const AxisWeights h = ComputeWeights(width, newWidth);
    const AxisWeights v = ComputeWeights(height, newHeight);
    // One input row averaged vertically, in 8.8 fixed point, with room for
    // the horizontal taps that reach past the last pixel (their weight is 0).
    std::vector<std::uint16_t> mixed(inRow + static_cast<std::size_t>(h.taps) * 3 + 3, 0);
    std::vector<std::uint32_t> sum(inRow);
    for (int y = 0; y < newHeight; ++y) {
      const std::uint16_t* wv = v.weights.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(v.taps);
      const int firstRow = v.first[static_cast<std::size_t>(y)];
      std::uint32_t* __restrict acc = sum.data();
      {
        const std::uint8_t* __restrict s = src + static_cast<std::size_t>(firstRow) * inRow;
        const std::uint32_t w = wv[0];
        for (std::size_t i = 0; i < inRow; ++i) acc[i] = w * s[i];
      }
      for (int t = 1; t < v.taps; ++t) {
        const std::uint32_t w = wv[t];
        if (w == 0 || firstRow + t >= height) continue;
        const std::uint8_t* __restrict s = src + static_cast<std::size_t>(firstRow + t) * inRow;
        for (std::size_t i = 0; i < inRow; ++i) acc[i] += w * s[i];
      }
      std::uint16_t* __restrict m = mixed.data();
      for (std::size_t i = 0; i < inRow; ++i) m[i] = static_cast<std::uint16_t>((acc[i] + 32) >> 6);

      std::uint8_t* out = dst + static_cast<std::size_t>(y) * outRow;
      const std::uint16_t* wh = h.weights.data();
      const int channels = gray ? 1 : 3;
      for (int x = 0; x < newWidth; ++x, wh += h.taps) {
        const std::uint16_t* p = m + static_cast<std::size_t>(h.first[static_cast<std::size_t>(x)]) * 3;
        for (int c = 0; c < channels; ++c) {
          std::uint32_t total = 0;
          if (h.taps <= 3) {
            total = wh[0] * std::uint32_t{p[c]} + (h.taps > 1 ? wh[1] * std::uint32_t{p[3 + c]} : 0) +
                    (h.taps > 2 ? wh[2] * std::uint32_t{p[6 + c]} : 0);
          } else {
            for (int t = 0; t < h.taps; ++t) total += wh[t] * std::uint32_t{p[t * 3 + c]};
          }
          out[x * 3 + c] = static_cast<std::uint8_t>((total + (1u << 21)) >> 22);
        }
        if (gray) out[x * 3 + 1] = out[x * 3 + 2] = out[x * 3];
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace kestrel
