// The temporary page bitmap of a conversion: a 1-bit Windows bitmap file,
// 62-byte header (two colours: 0 white, 1 black), rows stored bottom-up. Rows
// are handed over top to bottom as the page is decoded; rows never handed over
// stay white, rows beyond the height are dropped.
//
// Each row takes (width + 7) / 8 bytes of the row buffer, padded with zero
// bytes to a whole number of 4-byte words (the fax widths 1728, 2048 and 2432
// need no padding); pixels beyond the width are cleared. The rows are
// collected in memory and the file is written in one piece when it is closed.
// One object per conversion; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

class CBmpPageFile {
 public:
  static constexpr std::size_t kHeaderSize = 62;

  // Bytes per stored row for `width` pixels.
  static std::size_t Stride(std::uint32_t width) { return ((static_cast<std::size_t>(width) + 31) / 32) * 4; }

  // Starts a page of `width` x `height` pixels, all white, to be written to
  // `path` (replacing any file there) when the page is closed.
  void WriteHeader(const std::string& path, std::uint32_t width, std::uint32_t height);

  // The next row from the top, written `times` times; false once the page is full.
  bool WriteRow(const std::uint8_t* row, unsigned times = 1);
  // `times` white rows.
  bool WriteWhiteRows(std::uint64_t times);

  bool Full() const { return rowsLeft_ == 0; }

  // Writes the file; false when it cannot be created or written (nothing is
  // left behind then).
  bool Close();

 private:
  std::string path_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t rowsLeft_ = 0;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> file_;
};

}  // namespace kestrel
