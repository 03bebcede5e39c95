// Separable: each output row first averages the input rows it covers (one pass
// over contiguous bytes), then the columns of that mixed row. Faxes scale by
// a factor between 1 and 2, so an output pixel covers at most three input
// pixels in either direction; that case has its own unrolled loops.
#include "convert/image_resize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "convert/image_error.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace kestrel {
namespace {

// Weights of the horizontal pass in 14 bits; the vertical pass uses 8, which
// keeps its sums of 8-bit samples within 16 bits (value x 256).
constexpr int kColumnWeightOne = 1 << 14;
constexpr int kRowWeightOne = 1 << 8;

// An image in memory as the input of a scaler.
class CMemoryInput final : public IScaleInput {
 public:
  CMemoryInput(const std::uint8_t* pixels, std::size_t rowBytes) : pixels_(pixels), rowBytes_(rowBytes) {}
  void ReadRow(int y, std::uint8_t* out) override { std::memcpy(out, Row(y), rowBytes_); }
  bool IsWhite(int y) override {
    const std::uint8_t* row = Row(y);
    std::size_t i = 0;
    for (std::uint64_t eight; i + 8 <= rowBytes_; i += 8) {
      std::memcpy(&eight, row + i, 8);
      if (eight != ~std::uint64_t{0}) return false;
    }
    while (i < rowBytes_ && row[i] == 255) ++i;
    return i == rowBytes_;
  }

 private:
  const std::uint8_t* Row(int y) const { return pixels_ + static_cast<std::size_t>(y) * rowBytes_; }
  const std::uint8_t* pixels_;
  std::size_t rowBytes_;
};

}  // namespace

CAreaScaler::CAxisWeights CAreaScaler::ComputeWeights(int in, int out, int one) {
  CAxisWeights a;
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

CAreaScaler::CAreaScaler(int width, int height, int channels, int newWidth, int newHeight)
    : height_(height),
      channels_(channels),
      newWidth_(newWidth),
      inRow_(static_cast<std::size_t>(width) * static_cast<std::size_t>(channels)),
      h_(ComputeWeights(width, newWidth, kColumnWeightOne)),
      v_(ComputeWeights(height, newHeight, kRowWeightOne)),
      mixed_(inRow_ + static_cast<std::size_t>(h_.taps + 1) * static_cast<std::size_t>(channels), 0),
      sum_(v_.taps > 3 ? inRow_ : 0),
      reachedFrom_(static_cast<std::size_t>(width), newWidth - 1),
      reachedTo_(static_cast<std::size_t>(width), 0),
      whiteRow_(static_cast<std::size_t>(height), -1),
      slots_(static_cast<std::size_t>(v_.taps) * inRow_),
      slotRow_(static_cast<std::size_t>(v_.taps), -1) {
  for (int x = 0; x < newWidth; ++x)
    for (int t = 0; t < h_.taps; ++t) {
      const int j = h_.first[static_cast<std::size_t>(x)] + t;
      if (j >= width) break;
      reachedFrom_[static_cast<std::size_t>(j)] = std::min(reachedFrom_[static_cast<std::size_t>(j)], x);
      reachedTo_[static_cast<std::size_t>(j)] = std::max(reachedTo_[static_cast<std::size_t>(j)], x);
    }
  if (h_.taps <= 3) {
    w0_.resize(static_cast<std::size_t>(newWidth));
    w1_.resize(w0_.size());
    w2_.resize(w0_.size());
    for (std::size_t x = 0; x < w0_.size(); ++x) {
      const std::uint16_t* w = h_.weights.data() + x * static_cast<std::size_t>(h_.taps);
      w0_[x] = w[0];
      w1_[x] = h_.taps > 1 ? w[1] : 0;
      w2_[x] = h_.taps > 2 ? w[2] : 0;
    }
  }
}

const std::uint8_t* CAreaScaler::InputRow(int r, IScaleInput& input) {
  const auto slot = static_cast<std::size_t>(r % v_.taps);
  std::uint8_t* row = slots_.data() + slot * inRow_;
  if (slotRow_[slot] != r) {
    input.ReadRow(r, row);
    slotRow_[slot] = r;
  }
  return row;
}

bool CAreaScaler::IsWhite(int r, IScaleInput& input) {
  signed char& known = whiteRow_[static_cast<std::size_t>(r)];
  if (known < 0) known = input.IsWhite(r) ? 1 : 0;
  return known == 1;
}

void CAreaScaler::Row(int y, IScaleInput& input, std::uint8_t* out) {
  if (channels_ == 1)
    MakeRow<1>(y, input, out);
  else
    MakeRow<3>(y, input, out);
}

template <int C>
void CAreaScaler::MakeRow(int y, IScaleInput& input, std::uint8_t* out) {
  const std::size_t outRow = static_cast<std::size_t>(newWidth_) * C;
  const std::uint16_t* wv = v_.weights.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(v_.taps);
  const int firstRow = v_.first[static_cast<std::size_t>(y)];
  // Output rows made of white rows only are white (the weights add up to
  // one), and cost a memset.
  bool allWhite = true;
  for (int t = 0; t < v_.taps && allWhite; ++t)
    if (wv[t] != 0 && firstRow + t < height_) allWhite = IsWhite(firstRow + t, input);
  if (allWhite) {
    std::memset(out, 255, outRow);
    return;
  }
  std::uint16_t* __restrict m = mixed_.data();
  if (v_.taps <= 3) {
    // A row of weight 0 adds nothing; the first row stands in for it. Rows
    // past the last one always weigh 0.
    const std::uint8_t* first = InputRow(firstRow, input);
    const auto row = [&](int t) {
      return t < v_.taps && wv[t] != 0 ? InputRow(std::min(firstRow + t, height_ - 1), input) : first;
    };
    const std::uint8_t* __restrict s0 = first;
    const std::uint8_t* __restrict s1 = row(1);
    const std::uint8_t* __restrict s2 = row(2);
    const std::uint16_t a = wv[0], b = v_.taps > 1 ? wv[1] : 0, c = v_.taps > 2 ? wv[2] : 0;
    for (std::size_t i = 0; i < inRow_; ++i) m[i] = static_cast<std::uint16_t>(a * s0[i] + b * s1[i] + c * s2[i]);
  } else {
    std::uint32_t* __restrict acc = sum_.data();
    std::fill(sum_.begin(), sum_.end(), 0);
    for (int t = 0; t < v_.taps && firstRow + t < height_; ++t) {
      const std::uint32_t w = wv[t];
      if (w == 0) continue;
      const std::uint8_t* __restrict s = InputRow(firstRow + t, input);
      for (std::size_t i = 0; i < inRow_; ++i) acc[i] += w * s[i];
    }
    for (std::size_t i = 0; i < inRow_; ++i) m[i] = static_cast<std::uint16_t>(acc[i]);
  }

  const int* first = h_.first.data();
  if (C == 1 && h_.taps <= 3) {
    // Most of a fax page is white paper. The row starts white, and only the
    // output pixels that a column holding anything but white reaches are
    // computed; for the others the sum gives white exactly.
    std::memset(out, 255, outRow);
    constexpr std::uint64_t kWhite4 = 0xFF00FF00FF00FF00ull;
    // Local copies: the stores through `out` could otherwise alias the members.
    const std::uint32_t* __restrict w0 = w0_.data();
    const std::uint32_t* __restrict w1 = w1_.data();
    const std::uint32_t* __restrict w2 = w2_.data();
    const int* __restrict reachedFrom = reachedFrom_.data();
    const int* __restrict reachedTo = reachedTo_.data();
    const auto compute = [&](int from, int to) {
      for (int x = from; x <= to; ++x) {
        const std::uint16_t* p = m + first[x];
        out[x] = static_cast<std::uint8_t>((w0[x] * p[0] + w1[x] * p[1] + w2[x] * p[2] + (1u << 21)) >> 22);
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
#if defined(__x86_64__)
    // Sixteen columns compared at once; then the groups of four that hold ink.
    const __m128i white = _mm_set1_epi16(static_cast<short>(255 << 8));
    for (; j + 16 <= inRow_; j += 16) {
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + j));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + j + 8));
      const auto whiteBytes = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(low, white))) |
                              static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(high, white))) << 16;
      if (whiteBytes == 0xFFFFFFFFu) continue;
      for (std::size_t k = 0; k < 4; ++k)
        if (((whiteBytes >> (8 * k)) & 0xFF) != 0xFF) inked(j + 4 * k, j + 4 * k + 3);
    }
#endif
    for (; j + 4 <= inRow_; j += 4) {
      std::uint64_t four;
      std::memcpy(&four, m + j, 8);
      if (four != kWhite4) inked(j, j + 3);
    }
    for (; j < inRow_; ++j)
      if (m[j] != (255 << 8)) inked(j, j);
    if (pendingFrom >= 0) compute(pendingFrom, pendingTo);
  } else if (h_.taps <= 3) {
    for (int x = 0; x < newWidth_; ++x) {
      const std::uint16_t* p = m + static_cast<std::size_t>(first[x]) * C;
      for (int c = 0; c < C; ++c)
        out[x * C + c] = static_cast<std::uint8_t>((w0_[static_cast<std::size_t>(x)] * p[c] +
                                                    w1_[static_cast<std::size_t>(x)] * p[C + c] +
                                                    w2_[static_cast<std::size_t>(x)] * p[2 * C + c] + (1u << 21)) >>
                                                   22);
    }
  } else {
    const std::uint16_t* wh = h_.weights.data();
    for (int x = 0; x < newWidth_; ++x, wh += h_.taps) {
      const std::uint16_t* p = m + static_cast<std::size_t>(first[x]) * C;
      for (int c = 0; c < C; ++c) {
        std::uint32_t total = 0;
        for (int t = 0; t < h_.taps; ++t) total += wh[t] * std::uint32_t{p[t * C + c]};
        out[x * C + c] = static_cast<std::uint8_t>((total + (1u << 21)) >> 22);
      }
    }
  }
}

Status ResizePixels(const std::uint8_t* src, int width, int height, int channels, std::uint8_t* dst, int newWidth,
                    int newHeight) {
  if (width <= 0 || height <= 0 || newWidth <= 0 || newHeight <= 0 || (channels != 1 && channels != 3))
    return ImageFailure(ImageError::kBadParam);
  const std::size_t inRow = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
  if (width == newWidth && height == newHeight) {
    std::memcpy(dst, src, inRow * static_cast<std::size_t>(height));
    return {};
  }
  try {
    CAreaScaler scaler(width, height, channels, newWidth, newHeight);
    CMemoryInput input(src, inRow);
    const std::size_t outRow = static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(channels);
    for (int y = 0; y < newHeight; ++y) scaler.Row(y, input, dst + static_cast<std::size_t>(y) * outRow);
  } catch (const std::bad_alloc&) {
    return ImageFailure(ImageError::kOutOfMemory);
  }
  return {};
}

}  // namespace kestrel
