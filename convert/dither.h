// Two-colour Floyd-Steinberg dithering: grey rows in, rows of one bit per
// pixel out (1 black, most significant bit first), the error of each pixel
// spread 7/16 to the right and 3/16, 5/16, 1/16 to the row below. Rows must
// be given from the top down. One object per image; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

class CTwoColourDither {
 public:
  explicit CTwoColourDither(int width);

  // `gray`: width bytes, 0 black to 255 white. `packed`: (width + 7) / 8 bytes.
  void Row(const std::uint8_t* gray, std::uint8_t* packed);

 private:
  int width_;
  // Errors in sixteenths, with one spare entry on either side.
  std::vector<int> current_;
  std::vector<int> next_;
};

}  // namespace kestrel
