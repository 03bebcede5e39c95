// A TIFF file held in memory, read and written through libtiff's client
// interface. The test-data tool uses it to have libtiff Modified-Huffman-code
// rows (Compression 2, CCITT RLE); the tests and the benchmark use it to have
// libtiff decode coded lines independently of Kestrel's decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

namespace kestrel::tools {

class CMemoryTiff {
 public:
  CMemoryTiff() = default;
  explicit CMemoryTiff(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  ~CMemoryTiff() { Close(); }
  CMemoryTiff(const CMemoryTiff&) = delete;
  CMemoryTiff& operator=(const CMemoryTiff&) = delete;

  // Opens the held bytes with libtiff in `mode` ("w" starts empty, "r" reads);
  // null on failure. libtiff's messages are swallowed.
  TIFF* Open(const char* mode);
  // Closes the libtiff handle (writing the directory in "w" mode).
  void Close();

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  static tmsize_t ReadProc(thandle_t, void*, tmsize_t);
  static tmsize_t WriteProc(thandle_t, void*, tmsize_t);
  static toff_t SeekProc(thandle_t, toff_t, int);
  static int CloseProc(thandle_t);
  static toff_t SizeProc(thandle_t);

  std::vector<std::uint8_t> bytes_;
  std::uint64_t pos_ = 0;
  TIFF* tif_ = nullptr;
};

// The fields of a one-row-per-strip CCITT RLE (Compression 2) image filled
// least significant bit first: each strip is the coded line of one row, as
// an SFF file holds it.
void SetCodedLineFields(TIFF* tif, std::uint32_t width, std::uint32_t rows);

}  // namespace kestrel::tools
