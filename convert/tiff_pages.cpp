// libtiff's own messages are caught through per-file open options, so they
// neither reach standard error nor change any process-wide handler.
#include "convert/tiff_pages.h"

#include <cstdio>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

#include "convert/bmp_reader.h"
#include "convert/dither.h"
#include "convert/fax_image.h"
#include "convert/image_error.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

int CountError(TIFF*, void* user, const char*, const char*, va_list) {
  ++*static_cast<int*>(user);
  return 1;
}

}  // namespace

int WriteTiffPage(const std::string& tiffPath, bool append, int width, int height,
                  const std::function<int(int, std::uint8_t*)>& grayRow, bool& opened) {
  opened = false;
  if (width <= 0 || height <= 0) return kImageBadParam;
  int errors = 0;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, CountError, &errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreMessage, nullptr);
  TIFF* tif = TIFFOpenExt(tiffPath.c_str(), append ? "a" : "w", options);
  TIFFOpenOptionsFree(options);
  if (tif == nullptr) return kImageFileOpen;
  opened = true;

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
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(kDefaultResolution));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(kDefaultResolution));
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

  int result = kImageOk;
  std::vector<std::uint8_t> gray(static_cast<std::size_t>(width));
  std::vector<std::uint8_t> packed((static_cast<std::size_t>(width) + 7) / 8);
  CTwoColourDither dither(width);
  for (int y = 0; y < height && result == kImageOk; ++y) {
    result = grayRow(y, gray.data());
    if (result != kImageOk) break;
    dither.Row(gray.data(), packed.data());
    if (TIFFWriteScanline(tif, packed.data(), static_cast<std::uint32_t>(y), 0) < 0) result = kImageFileWrite;
  }
  if (result == kImageOk && !TIFFWriteDirectory(tif)) result = kImageFileWrite;
  TIFFClose(tif);
  if (result == kImageOk && errors > 0) result = kImageTiffInternal;
  return result;
}

int AppendPageToTiff(const std::string& tiffPath, const std::string& pagePath, int pageIndex, IEventLog& log) {
  int result = kImageOk;
  {
    CBmpReader page;
    result = page.Open(pagePath);
    if (result == kImageOk) {
      bool opened = false;
      result = WriteTiffPage(
          tiffPath, pageIndex > 0, page.Width(), page.Height(),
          [&page](int y, std::uint8_t* out) { return page.ReadRowGray(y, out); }, opened);
      if (!opened) {
        ::unlink(pagePath.c_str());
        log.WriteEventText("Can not open the TIF file: " + ImageErrorText(static_cast<unsigned>(result)));
        return 1;
      }
    }
  }
  ::unlink(pagePath.c_str());
  if (result != kImageOk) {
    log.WriteEventText("An error ocours the conversion " + ImageErrorText(static_cast<unsigned>(result)));
    return 1;
  }
  return 0;
}

}  // namespace kestrel
