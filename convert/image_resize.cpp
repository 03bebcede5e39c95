// Separable: each output row first averages the input rows it covers (one pass
// over contiguous bytes), then the columns of that mixed row. Faxes scale by
// a factor between 1 and 2, so an output pixel covers at most three input
// pixels in either direction; that case has its own unrolled loops.
#include "convert/image_resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace kestrel {
namespace {

// Weights of the horizontal pass in 14 bits; the vertical pass uses 8, which
// keeps its sums of 8-bit samples within 16 bits (value x 256).
constexpr int kColumnWeightOne = 1 << 14;
constexpr int kRowWeightOne = 1 << 8;

// For each output pixel of one axis: the first input pixel it covers and
// `taps` weights (zero-padded), summing to `one` exactly.
struct AxisWeights {
  int taps = 0;
  std::vector<int> first;
  std::vector<std::uint16_t> weights;  // taps per output pixel
};

AxisWeights ComputeWeights(int in, int out, int one) {
  AxisWeights a;
  const double scale = static_cast<double>(in) / out;
  std::vector<int> counts(static_cast<std::size_t>(out));
  a.first.resize(static_cast<std::size_t>(out));
  for (int i = 0; i < out; ++i) {
    const double lo = i * scale;
    const double hi = std::min<double>((i + 1) * scale, in);
    const int first = std::min(static_cast<int>(std::floor(lo)), in - 1);
    const int last = std::max(first, std::min(static_cast<int>(std::ceil(hi)) - 1, in - 1));
    a.first[static_cast<std::size_t>(i)] = first;
    counts[static_cast<std::size_t>(i)] = last - first + 1;
    a.taps = std::max(a.taps, last - first + 1);
  }
  a.weights.assign(static_cast<std::size_t>(out) * static_cast<std::size_t>(a.taps), 0);
  for (int i = 0; i < out; ++i) {
    const double lo = i * scale;
    const double hi = std::min<double>((i + 1) * scale, in);
    const int first = a.first[static_cast<std::size_t>(i)];
    const int count = counts[static_cast<std::size_t>(i)];
    // Rounded running sums, so the weights add up to exactly `one`.
    double covered = 0;
    int given = 0;
    for (int t = 0; t < count; ++t) {
      const int j = first + t;
      covered += std::max(0.0, std::min<double>(hi, j + 1) - std::max<double>(lo, j));
      const int upTo = t == count - 1 ? one : static_cast<int>(std::lround(covered / (hi - lo) * one));
      a.weights[static_cast<std::size_t>(i) * static_cast<std::size_t>(a.taps) + static_cast<std::size_t>(t)] =
          static_cast<std::uint16_t>(std::clamp(upTo - given, 0, one));
      given = std::max(given, upTo);
    }
  }
  return a;
}

template <int C>
void Resize(const std::uint8_t* src, int width, int height, std::uint8_t* dst, int newWidth, int newHeight) {
  if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0) return;
  const AxisWeights h = ComputeWeights(width, newWidth, kColumnWeightOne);
  const AxisWeights v = ComputeWeights(height, newHeight, kRowWeightOne);
  const auto inRow = static_cast<std::size_t>(width) * C;
  const auto outRow = static_cast<std::size_t>(newWidth) * C;
  // The input rows of one output row averaged, in 8.8 fixed point, with room
  // for taps that reach past the last pixel (their weight is 0).
  std::vector<std::uint16_t> mixed(inRow + static_cast<std::size_t>(h.taps + 1) * C, 0);
  std::vector<std::uint32_t> sum(inRow);

  // reachedFrom[j] .. reachedTo[j]: the output pixels whose taps include
  // input column j.
  std::vector<int> reachedFrom(static_cast<std::size_t>(width), newWidth - 1), reachedTo(static_cast<std::size_t>(width), 0);
  for (int x = 0; x < newWidth; ++x)
    for (int t = 0; t < h.taps; ++t) {
      const int j = h.first[static_cast<std::size_t>(x)] + t;
      if (j >= width) break;
      reachedFrom[static_cast<std::size_t>(j)] = std::min(reachedFrom[static_cast<std::size_t>(j)], x);
      reachedTo[static_cast<std::size_t>(j)] = std::max(reachedTo[static_cast<std::size_t>(j)], x);
    }

  // Horizontal weights of the common case, one array per tap.
  std::vector<std::uint32_t> w0, w1, w2;
  if (h.taps <= 3) {
    w0.resize(static_cast<std::size_t>(newWidth));
    w1.resize(w0.size());
    w2.resize(w0.size());
    for (std::size_t x = 0; x < w0.size(); ++x) {
      const std::uint16_t* w = h.weights.data() + x * static_cast<std::size_t>(h.taps);
      w0[x] = w[0];
      w1[x] = h.taps > 1 ? w[1] : 0;
      w2[x] = h.taps > 2 ? w[2] : 0;
    }
  }

  // Whether an input row is white throughout (-1: not looked at yet): output
  // rows made of white rows only are white, and cost a memset.
  std::vector<signed char> whiteRow(static_cast<std::size_t>(height), -1);
  const auto isWhite = [&](int r) {
    signed char& known = whiteRow[static_cast<std::size_t>(r)];
    if (known < 0) {
      const std::uint8_t* row = src + static_cast<std::size_t>(r) * inRow;
      std::size_t i = 0;
      for (std::uint64_t eight; i + 8 <= inRow; i += 8) {
        std::memcpy(&eight, row + i, 8);
        if (eight != ~std::uint64_t{0}) break;
      }
      while (i < inRow && row[i] == 255) ++i;
      known = i == inRow ? 1 : 0;
    }
    return known == 1;
  };

  for (int y = 0; y < newHeight; ++y) {
    const std::uint16_t* wv = v.weights.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(v.taps);
    const int firstRow = v.first[static_cast<std::size_t>(y)];
    bool allWhite = true;
    for (int t = 0; t < v.taps && allWhite; ++t)
      if (wv[t] != 0 && firstRow + t < height) allWhite = isWhite(firstRow + t);
    if (allWhite) {
      std::memset(dst + static_cast<std::size_t>(y) * outRow, 255, outRow);
      continue;
    }
    std::uint16_t* __restrict m = mixed.data();
    if (v.taps <= 3) {
      // Rows past the last one carry weight 0; any valid row stands in for them.
      const auto row = [&](int t) {
        return src + static_cast<std::size_t>(std::min(firstRow + t, height - 1)) * inRow;
      };
      const std::uint8_t* __restrict s0 = row(0);
      const std::uint8_t* __restrict s1 = row(1);
      const std::uint8_t* __restrict s2 = row(2);
      const std::uint16_t a = wv[0], b = v.taps > 1 ? wv[1] : 0, c = v.taps > 2 ? wv[2] : 0;
      for (std::size_t i = 0; i < inRow; ++i)
        m[i] = static_cast<std::uint16_t>(a * s0[i] + b * s1[i] + c * s2[i]);
    } else {
      std::uint32_t* __restrict acc = sum.data();
      std::fill(sum.begin(), sum.end(), 0);
      for (int t = 0; t < v.taps && firstRow + t < height; ++t) {
        const std::uint32_t w = wv[t];
        const std::uint8_t* __restrict s = src + static_cast<std::size_t>(firstRow + t) * inRow;
        for (std::size_t i = 0; i < inRow; ++i) acc[i] += w * s[i];
      }
      for (std::size_t i = 0; i < inRow; ++i) m[i] = static_cast<std::uint16_t>(acc[i]);
    }

    std::uint8_t* __restrict out = dst + static_cast<std::size_t>(y) * outRow;
    const int* first = h.first.data();
    if (C == 1 && h.taps <= 3) {
      // Most of a fax page is white paper. The row starts white, and only the
      // output pixels that a column holding anything but white reaches are
      // computed; for the others the sum gives white exactly.
      std::memset(out, 255, outRow);
      constexpr std::uint64_t kWhite4 = 0xFF00FF00FF00FF00ull;
      const auto compute = [&](int from, int to) {
        for (int x = from; x <= to; ++x) {
          const std::uint16_t* p = m + first[x];
          out[x] = static_cast<std::uint8_t>((w0[static_cast<std::size_t>(x)] * p[0] + w1[static_cast<std::size_t>(x)] * p[1] +
                                              w2[static_cast<std::size_t>(x)] * p[2] + (1u << 21)) >> 22);
        }
      };
      int pendingFrom = -1, pendingTo = -1;
      const auto inked = [&](std::size_t lo, std::size_t hi) {  // columns lo..hi hold ink
        const int from = reachedFrom[lo], to = reachedTo[hi];
        if (pendingFrom >= 0 && from <= pendingTo + 1) {
          pendingTo = std::max(pendingTo, to);
          return;
        }
        if (pendingFrom >= 0) compute(pendingFrom, pendingTo);
        pendingFrom = from;
        pendingTo = to;
      };
      std::size_t j = 0;
      for (; j + 4 <= inRow; j += 4) {
        std::uint64_t four;
        std::memcpy(&four, m + j, 8);
        if (four != kWhite4) inked(j, j + 3);
      }
      for (; j < inRow; ++j)
        if (m[j] != (255 << 8)) inked(j, j);
      if (pendingFrom >= 0) compute(pendingFrom, pendingTo);
    } else if (h.taps <= 3) {
      for (int x = 0; x < newWidth; ++x) {
        const std::uint16_t* p = m + static_cast<std::size_t>(first[x]) * C;
        for (int c = 0; c < C; ++c)
          out[x * C + c] = static_cast<std::uint8_t>(
              (w0[static_cast<std::size_t>(x)] * p[c] + w1[static_cast<std::size_t>(x)] * p[C + c] +
               w2[static_cast<std::size_t>(x)] * p[2 * C + c] + (1u << 21)) >> 22);
      }
    } else {
      const std::uint16_t* wh = h.weights.data();
      for (int x = 0; x < newWidth; ++x, wh += h.taps) {
        const std::uint16_t* p = m + static_cast<std::size_t>(first[x]) * C;
        for (int c = 0; c < C; ++c) {
          std::uint32_t total = 0;
          for (int t = 0; t < h.taps; ++t) total += wh[t] * std::uint32_t{p[t * C + c]};
          out[x * C + c] = static_cast<std::uint8_t>((total + (1u << 21)) >> 22);
        }
      }
    }
  }
}

}  // namespace

bool ResizePixels(const std::uint8_t* src, int width, int height, int channels, std::uint8_t* dst, int newWidth,
                  int newHeight) {
  if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0 || (channels != 1 && channels != 3)) return false;
  if (width == newWidth && height == newHeight) {
    std::memcpy(dst, src, static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels));
    return true;
  }
  try {
    if (channels == 1)
      Resize<1>(src, width, height, dst, newWidth, newHeight);
    else
      Resize<3>(src, width, height, dst, newWidth, newHeight);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace kestrel
