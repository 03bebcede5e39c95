// The test-data tool's library: turns 1-bit images into SFF files the way a
// fax line would deliver them. Every row is Modified-Huffman-coded by libtiff
// (Compression 2, CCITT RLE, fill order least significant bit first, one row
// per strip, so that each strip's bytes are one coded line); blank rows become
// white-skip records; chosen rows can be written as faulty lines, and
// user-information records can be placed between rows. Either resolution,
// any number of pages. Used by the tests and by the sff-make program.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrel::tools {

// A 1-bit image: rows of (width + 7) / 8 bytes, most significant bit first,
// 1 = black. Bits beyond the width are 0.
struct CMonoBitmap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bits;

  CMonoBitmap() = default;
  CMonoBitmap(std::uint32_t w, std::uint32_t h) : width(w), height(h), bits(RowBytes() * h, 0) {}
  std::size_t RowBytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
  const std::uint8_t* Row(std::uint32_t y) const { return bits.data() + y * RowBytes(); }
  std::uint8_t* Row(std::uint32_t y) { return bits.data() + y * RowBytes(); }
  bool Get(std::uint32_t x, std::uint32_t y) const { return (Row(y)[x / 8] >> (7 - x % 8)) & 1; }
  void Set(std::uint32_t x, std::uint32_t y, bool black = true) {
    if (x >= width || y >= height) return;
    auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
    if (black)
      Row(y)[x / 8] |= mask;
    else
      Row(y)[x / 8] &= static_cast<std::uint8_t>(~mask);
  }
  bool RowIsWhite(std::uint32_t y) const;
};

// How a row goes into the file instead of its coded line.
enum class RowFault {
  kIllegalLine,  // record 255 00: a line received with a coding error
  kCorruptCode,  // a coded line whose first code is no white code
};

struct SffMakePage {
  CMonoBitmap image;
  std::map<std::uint32_t, RowFault> faults;            // by row
  std::multimap<std::uint32_t, std::string> userInfo;  // written before the row (1 to 255 bytes each)
  bool whiteSkips = true;                              // blank rows as white-skip records
  int fine = -1;  // this page's vertical resolution byte: 1 fine, 0 normal, -1 the document's
};

struct SffMakeOptions {
  bool fine = true;          // vertical resolution byte 1, else 0 (normal)
  std::uint8_t version = 1;  // document header version byte
};

// The coded line of every row of `image`, as libtiff writes it. Throws
// std::runtime_error when libtiff refuses.
std::vector<std::vector<std::uint8_t>> EncodeRowsMH(const CMonoBitmap& image);

// libtiff's decoding of coded lines of `width` pixels (CCITT RLE, least
// significant bit first), one row of (width + 7) / 8 bytes per line; a line
// libtiff cannot decode gives an empty row. Throws std::runtime_error when
// libtiff refuses the file.
std::vector<std::vector<std::uint8_t>> DecodeRowsMH(std::uint32_t width,
                                                    const std::vector<std::vector<std::uint8_t>>& lines);

// The whole SFF file. Throws std::runtime_error when libtiff refuses.
std::string MakeSffFile(const std::vector<SffMakePage>& pages, const SffMakeOptions& options);

// Reads a PBM file (P1 or P4); throws std::runtime_error on anything else.
CMonoBitmap ReadPbm(const std::string& bytes);

}  // namespace kestrel::tools
