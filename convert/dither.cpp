#include "convert/dither.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace kestrel {
namespace {

#if defined(__x86_64__)
// The luminance of 16 pixels at a time: the three colours are gathered from
// 48 bytes by byte shuffles, weighted in 16-bit lanes (the sum stays below
// 65536) and packed back.
__attribute__((target("ssse3"))) std::size_t LuminanceSsse3(const std::uint8_t* pixels, std::size_t width, bool bgr,
                                                             std::uint8_t* gray) {
  // For each colour, where its bytes lie in the first, second and third 16 bytes.
  const auto mask = [](int colour, int part) {
    alignas(16) std::int8_t m[16];
    for (int i = 0; i < 16; ++i) {
      const int at = i * 3 + colour - part * 16;
      m[i] = static_cast<std::int8_t>(at >= 0 && at < 16 ? at : -128);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
  };
  const int blue = bgr ? 0 : 2, red = bgr ? 2 : 0;
  const __m128i b0 = mask(blue, 0), b1 = mask(blue, 1), b2 = mask(blue, 2);
  const __m128i g0 = mask(1, 0), g1 = mask(1, 1), g2 = mask(1, 2);
  const __m128i r0 = mask(red, 0), r1 = mask(red, 1), r2 = mask(red, 2);
  const __m128i zero = _mm_setzero_si128();
  const __m128i wr = _mm_set1_epi16(77), wg = _mm_set1_epi16(150), wb = _mm_set1_epi16(29), half = _mm_set1_epi16(128);
  std::size_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x * 3));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x * 3 + 16));
    const __m128i p2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x * 3 + 32));
    const __m128i b = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p0, b0), _mm_shuffle_epi8(p1, b1)), _mm_shuffle_epi8(p2, b2));
    const __m128i g = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p0, g0), _mm_shuffle_epi8(p1, g1)), _mm_shuffle_epi8(p2, g2));
    const __m128i r = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p0, r0), _mm_shuffle_epi8(p1, r1)), _mm_shuffle_epi8(p2, r2));
    __m128i low = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(r, zero), wr),
                                _mm_mullo_epi16(_mm_unpacklo_epi8(g, zero), wg));
    low = _mm_add_epi16(low, _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb), half));
    __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(r, zero), wr),
                                 _mm_mullo_epi16(_mm_unpackhi_epi8(g, zero), wg));
    high = _mm_add_epi16(high, _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb), half));
    low = _mm_srli_epi16(low, 8);
    high = _mm_srli_epi16(high, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(gray + x), _mm_packus_epi16(low, high));
  }
  return x;
}
#endif

}  // namespace

void LuminanceRow(const std::uint8_t* pixels, std::size_t width, bool bgr, std::uint8_t* gray) {
  std::size_t x = 0;
#if defined(__x86_64__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) x = LuminanceSsse3(pixels, width, bgr, gray);
#endif
  const std::size_t r = bgr ? 2 : 0, b = bgr ? 0 : 2;
  for (; x < width; ++x) {
    const std::uint8_t* p = pixels + x * 3;
    gray[x] = static_cast<std::uint8_t>((p[r] * 77u + p[1] * 150u + p[b] * 29u + 128u) >> 8);
  }
}

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
