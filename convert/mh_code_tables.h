// The four Modified Huffman code tables of ITU-T T.4 (Table 2: terminating
// codes for runs 0 to 63; Table 3: make-up codes for runs 64 to 1728), one pair
// per colour. The extended make-up codes (1792 to 2560) and the end-of-line
// code are deliberately absent: a line that needs them does not decode.
//
// Constant data, safe to share between threads.
#pragma once

#include <cstdint>

namespace kestrel {

// One code of a table. `code` holds the code's bits in reverse order: the first
// transmitted bit is the least significant bit, so that it can be compared
// directly with the low bits of a bit buffer filled least significant bit first.
struct MHCodeEntry {
  std::uint16_t code;
  std::uint16_t run;
  std::uint16_t length;  // bits, 2 to 13
};

// Each table is ordered by ascending run length and ends with an entry whose
// code is 0 (no real code is 0).
extern const MHCodeEntry kWhiteTerminatingCodes[65];
extern const MHCodeEntry kWhiteMakeUpCodes[28];
extern const MHCodeEntry kBlackTerminatingCodes[65];
extern const MHCodeEntry kBlackMakeUpCodes[28];

}  // namespace kestrel
