// IImageRows: the rows of an image handed to an encoder one at a time, from
// the top down, so that neither the encoder nor whoever makes the rows needs
// the whole image in memory.
#pragma once

#include <cstdint>

namespace kestrel {

class IImageRows {
 public:
  virtual ~IImageRows() = default;
  // Row `y`, asked once each from 0 up: width x channels bytes, valid until
  // the next call.
  virtual const std::uint8_t* Row(int y) = 0;
};

}  // namespace kestrel
