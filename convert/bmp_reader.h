// Reads Windows bitmap files row by row: uncompressed 1, 4, 8 (with palette),
// 24 and 32 bits per pixel, bottom-up or top-down. Used for the page bitmaps
// and the TIFF page files a conversion writes for itself.
//
// Trusts nothing in the header: sizes are checked against the file's real
// size and against kMaxBmpPixels before anything is allocated, palette
// indices beyond the palette read as black. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

inline constexpr std::uint64_t kMaxBmpPixels = std::uint64_t{1} << 25;

class CBmpReader {
 public:
  CBmpReader() = default;
  ~CBmpReader();
  CBmpReader(const CBmpReader&) = delete;
  CBmpReader& operator=(const CBmpReader&) = delete;

  // 0, kImageFileOpen when the file cannot be opened, kImageBadBmp when it is
  // not a bitmap this reader handles.
  int Open(const std::string& path);

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Whether every pixel is grey (red = green = blue): palette images whose
  // palette holds only greys.
  bool IsGray() const { return gray_; }

  // Image row `y` (0 = top) as width x 3 bytes red, green, blue. Reading the
  // rows from the top down costs one file read per few hundred kilobytes.
  // 0, or kImageFileRead when the row cannot be read.
  int ReadRowRgb(int y, std::uint8_t* rgb);
  // The same as one byte of luminance per pixel (0 black, 255 white).
  int ReadRowGray(int y, std::uint8_t* gray);

 private:
  const std::uint8_t* RawRow(int y);

  int fd_ = -1;
  int width_ = 0;
  int height_ = 0;
  int bits_ = 0;
  bool topDown_ = false;
  bool gray_ = false;
  std::uint64_t pixelOffset_ = 0;
  std::size_t stride_ = 0;
  std::uint8_t palette_[256][3] = {};  // red, green, blue
  unsigned paletteSize_ = 0;
  std::uint8_t expand_[256][24] = {};     // 1 bit per pixel: one byte to eight RGB pixels
  std::uint8_t expandGray_[256][8] = {};  // the same to eight grey pixels
  std::vector<std::uint8_t> chunk_;
  int chunkFirst_ = 0;  // first image row held in chunk_
  int chunkRows_ = 0;
};

}  // namespace kestrel
