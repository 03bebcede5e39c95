// Resizing of images with an area-averaging (box) filter: every output pixel
// is the average of the input area it covers, each input pixel weighted by
// the part of it that lies inside. Works on interleaved 8-bit channels (1 for
// grey, 3 for RGB), in fixed-point arithmetic, so the result does not depend
// on the machine. CAreaScaler makes one output row at a time from the few
// input rows it covers, so neither image has to be in memory whole;
// ResizePixels scales an image held in memory with the same arithmetic.
// ResizePixels answers a Status (image_error.h); CAreaScaler throws
// std::bad_alloc when its work memory cannot be had, as the page writers expect.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/result.h"

namespace kestrel {

// Where a CAreaScaler reads its input rows.
class IScaleInput {
 public:
  virtual ~IScaleInput() = default;
  // Input row `y` as width x channels bytes into `out`.
  virtual void ReadRow(int y, std::uint8_t* out) = 0;
  // Whether every byte of input row `y` is 255 (white); asked once per row.
  virtual bool IsWhite(int y) = 0;
};

class CAreaScaler {
 public:
  // Scales `width` x `height` to `newWidth` x `newHeight` (all above 0),
  // `channels` 1 or 3. Throws std::bad_alloc when its few rows of work
  // memory cannot be had.
  CAreaScaler(int width, int height, int channels, int newWidth, int newHeight);

  // Output row `y` (newWidth x channels bytes) into `out`. Asked from the top
  // down, every input row is read once.
  void Row(int y, IScaleInput& input, std::uint8_t* out);

 private:
  // For each output pixel of one axis: the first input pixel it covers and
  // `taps` weights (zero-padded), summing to the axis' weight one exactly.
  struct CAxisWeights {
    int taps = 0;
    std::vector<int> first;
    std::vector<std::uint16_t> weights;  // taps per output pixel
  };
  static CAxisWeights ComputeWeights(int in, int out, int one);

  template <int C>
  void MakeRow(int y, IScaleInput& input, std::uint8_t* out);
  // Input row `r`, read into one of `taps` slots: the rows one output row
  // covers never share a slot.
  const std::uint8_t* InputRow(int r, IScaleInput& input);
  bool IsWhite(int r, IScaleInput& input);

  int height_, channels_, newWidth_;
  std::size_t inRow_;
  CAxisWeights h_, v_;
  // The input rows of one output row averaged, in 8.8 fixed point, with room
  // for taps that reach past the last pixel (their weight is 0).
  std::vector<std::uint16_t> mixed_;
  std::vector<std::uint32_t> sum_;
  // reachedFrom_[j] .. reachedTo_[j]: the output pixels whose taps include
  // input column j.
  std::vector<int> reachedFrom_, reachedTo_;
  // Horizontal weights of the common case (at most three taps), one array per tap.
  std::vector<std::uint32_t> w0_, w1_, w2_;
  // Whether an input row is white throughout (-1: not asked yet).
  std::vector<signed char> whiteRow_;
  std::vector<std::uint8_t> slots_;  // v_.taps rows of inRow_ bytes
  std::vector<int> slotRow_;         // the input row each slot holds, -1 none
};

// Scales `src` (width x height x channels bytes) into `dst` (newWidth x
// newHeight x channels). `channels` is 1 or 3. Fails with an image error
// (image_error.h): bad user param for a size of 0 or another channel count,
// out of memory when the work buffers cannot be had.
[[nodiscard]] Status ResizePixels(const std::uint8_t* src, int width, int height, int channels, std::uint8_t* dst,
                                  int newWidth, int newHeight);

}  // namespace kestrel
