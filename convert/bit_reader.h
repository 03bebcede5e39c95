// The bit reader of one coded line: hands out the line's bits least
// significant bit first, the way SFF packs Modified Huffman codes. It reads
// only the `count` bytes it was given; bits beyond them read as 0.
//
// One per line, never shared.
#pragma once

#include <cstdint>

#include "convert/mh_code_tables.h"

namespace kestrel {

class CBitReader {
 public:
  CBitReader(const std::uint8_t* data, std::uint32_t count) : nextByte_(data), bytesLeft_(count) {}

  // Loads whole bytes above the buffered bits until at least `bits` bits are
  // buffered or no byte is left.
  void Fill(unsigned bits) {
    while (bytesLeft_ > 0 && bitCount_ < bits) {
      bitBuffer_ |= static_cast<std::uint32_t>(*nextByte_++) << bitCount_;
      bitCount_ = static_cast<std::uint16_t>(bitCount_ + 8);
      --bytesLeft_;
    }
  }

  // The run of the first entry of `table` (up to its end entry) whose code
  // equals the low code-length bits of the buffer, removing those bits; -1
  // when none does. Bits not yet buffered compare as 0, so near the end of the
  // data a code may match that reaches beyond it; the buffer is then empty.
  int LookUp(const MHCodeEntry* table) { return Search(table, false); }

  // The same, but only codes that lie wholly within the buffered bits match.
  int LookUpComplete(const MHCodeEntry* table) { return Search(table, true); }

  std::uint32_t BytesLeft() const { return bytesLeft_; }
  std::uint16_t BitCount() const { return bitCount_; }
  std::uint32_t BitBuffer() const { return bitBuffer_; }
  const std::uint8_t* NextByte() const { return nextByte_; }

 private:
  int Search(const MHCodeEntry* table, bool complete) {
    for (const MHCodeEntry* e = table; e->code != 0; ++e) {
      if (complete && e->length > bitCount_) continue;
      if ((bitBuffer_ & ((1u << e->length) - 1u)) != e->code) continue;
      bitBuffer_ >>= e->length;
      bitCount_ = e->length <= bitCount_ ? static_cast<std::uint16_t>(bitCount_ - e->length) : 0;
      return e->run;
    }
    return -1;
  }

  const std::uint8_t* nextByte_;
  std::uint32_t bytesLeft_;
  std::uint32_t bitBuffer_ = 0;
  std::uint16_t bitCount_ = 0;
};

}  // namespace kestrel
