// Modified Huffman (ITU-T T.4, one-dimensional) decoding of one SFF coded line
// into a row of 1-bit pixels, and the rows each record of a page gives.
//
// A line is decoded by a four-state machine (white run due, black run due,
// white or black terminating code due after a make-up code). While bytes of
// the line remain to be loaded, a code that fits no table in its state is an
// error (SffError 5 to 8). Once the last byte is loaded, every complete
// code still buffered is decoded, and the line ends at the first bits that
// hold no complete code: the zero bits that pad a line to a whole byte.
// Reads only the record's bytes and writes only inside the row buffer,
// whatever the codes say; no allocation. The tables are constant, so lines may
// be decoded on several threads at once. A line that does not decode is
// answered as a failed Status naming its page and line; nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/sff_file.h"
#include "core/result.h"

namespace kestrel {

// One bit per pixel: room for 40960 pixels.
inline constexpr std::size_t RowBufferSize = 5120;

// Where a line lies in its document, 1-based, lines counted as the page's
// records count them (a white skip of n lines counts n).
struct SffLinePlace {
  int page = 0;
  int line = 0;
};

// The decoder. A coded line: clears the first `size` bytes of `row` and
// decodes the record into it, table-driven. It fails when the line does not
// decode: step "Page <page>, line <line>", the text and code of SffError 5,
// 6, 7 or 8; the row keeps the pixels decoded before the fault. Any other
// record fails with code -1 and leaves the row untouched.
[[nodiscard]] Status DecodeLine(const SffRecord& record, SffLinePlace place, std::uint8_t* row, std::size_t size);

// The same decoding by searching the code tables in order, the way the
// decoder is defined, with the same answer; slow. Not for conversions: the
// tests and the fuzzer check DecodeLine against it.
[[nodiscard]] Status DecodeLineBySearch(const SffRecord& record, SffLinePlace place, std::uint8_t* row,
                                        std::size_t size);

}  // namespace kestrel
