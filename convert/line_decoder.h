// Modified Huffman (ITU-T T.4, one-dimensional) decoding of one SFF coded line
// into a row of 1-bit pixels, and the rows each record of a page gives.
//
// A line is decoded by a four-state machine (white run due, black run due,
// white or black terminating code due after a make-up code). While bytes of
// the line remain to be loaded, a code that fits no table in its state is an
// error (CSffException 5 to 8). Once the last byte is loaded, every complete
// code still buffered is decoded, and the line ends at the first bits that
// hold no complete code: the zero bits that pad a line to a whole byte.
// Reads only the record's bytes and writes only inside the row buffer,
// whatever the codes say; no allocation. The tables are constant, so lines may
// be decoded on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/bit_reader.h"
#include "convert/row_bit_writer.h"
#include "convert/sff_file.h"

namespace kestrel {

// One bit per pixel: room for 40960 pixels.
inline constexpr std::size_t RowBufferSize = 5120;

// Decodes the line `reader` holds into `writer`, table-driven. Throws
// CSffException 5, 6, 7 or 8; the pixels decoded before the fault stay.
void DecodeLine(CBitReader& reader, CRowBitWriter& writer);

// The same decoding by searching the code tables in order, the way the
// decoder is defined; slow, kept to check DecodeLine against.
void DecodeLineBySearch(CBitReader& reader, CRowBitWriter& writer);

// CodedLine: clears the first `size` bytes of `row`, decodes the record into
// it and answers true; false when the line does not decode (the row keeps the
// pixels decoded before the fault). Any other record: false, row untouched.
bool DecodeRecordToRow(const SffRecord& record, std::uint8_t* row, std::size_t size);

// The result code of decoding a line (0 or the CSffException code), for
// callers that decode many lines and would rather not unwind for each fault.
int DecodeLineResult(CBitReader& reader, CRowBitWriter& writer);

}  // namespace kestrel
