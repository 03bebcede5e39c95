#include "fax_tiff_writer.h"

#include <algorithm>
#include <random>
#include <tiffio.h>

namespace kestrel::test {

FaxTiffPage BlockPage(std::uint32_t height, std::uint32_t seed, bool fine, std::uint32_t block) {
  FaxTiffPage page;
  page.height = height;
  page.fine = fine;
  const std::size_t stride = kFaxTiffWidth / 8;
  page.rows.assign(stride * height, 0);
  std::mt19937 random(seed);
  for (std::uint32_t top = 0; top < height; top += block)
    for (std::uint32_t left = 0; left < kFaxTiffWidth; left += block) {
      if (random() % 4 != 0) continue;
      for (std::uint32_t y = top; y < std::min(height, top + block); ++y)
        for (std::uint32_t x = left; x < std::min(kFaxTiffWidth, left + block); ++x)
          page.rows[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  return page;
}

bool WriteFaxTiff(const std::string& path, const std::vector<FaxTiffPage>& pages, FaxTiffCoding coding) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (!tiff) return false;
  bool ok = true;
  const std::size_t stride = kFaxTiffWidth / 8;
  for (std::size_t n = 0; n < pages.size() && ok; ++n) {
    const FaxTiffPage& page = pages[n];
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kFaxTiffWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, page.height);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, page.fine ? 196.0f : 98.0f);
    TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(n), static_cast<std::uint16_t>(pages.size()));
    switch (coding) {
      case FaxTiffCoding::kGroup3OneD:
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
        break;
      case FaxTiffCoding::kGroup3TwoD:
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(tiff, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS);
        break;
      case FaxTiffCoding::kGroup4: TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4); break;
    }
    // libtiff knows the fax tags once the compression is a fax coding.
    if (page.noteLines) {
      TIFFSetField(tiff, TIFFTAG_CLEANFAXDATA, page.cleanFaxData);
      TIFFSetField(tiff, TIFFTAG_BADFAXLINES, page.badFaxLines);
      TIFFSetField(tiff, TIFFTAG_CONSECUTIVEBADFAXLINES, page.consecutiveBadFaxLines);
    }
    std::vector<std::uint8_t> row(stride);
    for (std::uint32_t y = 0; y < page.height && ok; ++y) {
      std::copy_n(page.rows.begin() + static_cast<std::ptrdiff_t>(y * stride), stride, row.begin());
      ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tiff) == 1;
  }
  TIFFClose(tiff);
  return ok;
}

}  // namespace kestrel::test
