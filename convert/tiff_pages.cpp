// libtiff's own messages are caught through per-file open options.
#include "convert/tiff_pages.h"

#include <cstdint>
#include <vector>

#include <tiffio.h>

#include "convert/dither.h"
#include "convert/image_error.h"

namespace kestrel {
namespace {

int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

int CountError(TIFF*, void* user, const char*, const char*, va_list) {
  ++*static_cast<int*>(user);
  return 1;
}

}  // namespace

Status WriteTiffPage(const std::string& tiffPath, bool append, IImageRows& grey, int width, int height, int dpiX,
                     int dpiY) {
  if (width <= 0 || height <= 0) return ImageFailure(ImageError::kBadParam, kTiffOpenStep);
  int errors = 0;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, CountError, &errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreMessage, nullptr);
  TIFF* tif = TIFFOpenExt(tiffPath.c_str(), append ? "a" : "w", options);
  TIFFOpenOptionsFree(options);
  if (tif == nullptr) return ImageFailure(ImageError::kFileOpen, kTiffOpenStep);

  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(dpiX));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(dpiY));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

  bool written = true;
  std::vector<std::uint8_t> packed((static_cast<std::size_t>(width) + 7) / 8);
  CTwoColourDither dither(width);
  for (int y = 0; y < height && written; ++y) {
    dither.Row(grey.Row(y), packed.data());
    written = TIFFWriteScanline(tif, packed.data(), static_cast<std::uint32_t>(y), 0) >= 0;
  }
  written = written && TIFFWriteDirectory(tif);
  TIFFClose(tif);
  if (!written) return ImageFailure(ImageError::kFileWrite, kTiffWriteStep);
  if (errors > 0) return ImageFailure(ImageError::kTiffInternal, kTiffWriteStep);
  return {};
}

}  // namespace kestrel
