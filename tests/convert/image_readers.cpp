#include "tests/convert/image_readers.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace kestrel::test {
namespace {

struct CJpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<CJpegFailure*>(info->err)->jump, 1); }

int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The decoders jump back on errors; the file is opened and closed outside them.
CDecodedImage DecodePng(std::FILE* f) {
  CDecodedImage image;
  png_structp read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(read);
  if (setjmp(png_jmpbuf(read))) {
    png_destroy_read_struct(&read, &info, nullptr);
    return CDecodedImage{};
  }
  png_init_io(read, f);
  png_read_info(read, info);
  image.width = static_cast<int>(png_get_image_width(read, info));
  image.height = static_cast<int>(png_get_image_height(read, info));
  image.bitDepth = png_get_bit_depth(read, info);
  image.colourType = png_get_color_type(read, info);
  image.channels = png_get_channels(read, info);
  const std::size_t rowBytes = png_get_rowbytes(read, info);
  image.pixels.resize(rowBytes * static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y)
    png_read_row(read, image.pixels.data() + static_cast<std::size_t>(y) * rowBytes, nullptr);
  png_read_end(read, nullptr);
  png_destroy_read_struct(&read, &info, nullptr);
  image.ok = true;
  return image;
}

CDecodedImage DecodeJpeg(std::FILE* f) {
  CDecodedImage image;
  jpeg_decompress_struct info;
  CJpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = JpegFail;
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return CDecodedImage{};
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  image.channels = info.output_components;
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
  image.pixels.resize(rowBytes * static_cast<std::size_t>(image.height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.pixels.data() + info.output_scanline * rowBytes;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  image.ok = true;
  return image;
}

CDecodedImage ReadWith(const std::string& path, CDecodedImage (*decode)(std::FILE*)) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return CDecodedImage{};
  CDecodedImage image = decode(f);
  std::fclose(f);
  return image;
}

}  // namespace

CDecodedImage ReadPng(const std::string& path) { return ReadWith(path, DecodePng); }
CDecodedImage ReadJpeg(const std::string& path) { return ReadWith(path, DecodeJpeg); }

std::vector<CTiffPage> ReadTiffPages(const std::string& path) {
  std::vector<CTiffPage> pages;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
  TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  if (tif == nullptr) return pages;
  do {
    CTiffPage page;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samplesPerPixel);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &page.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.yResolution);
    const auto rowBytes = static_cast<std::size_t>(TIFFScanlineSize(tif));
    page.rows.resize(rowBytes * page.height);
    for (std::uint32_t y = 0; y < page.height; ++y)
      if (TIFFReadScanline(tif, page.rows.data() + y * rowBytes, y, 0) < 0) {
        page.rows.clear();
        break;
      }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tif));
  TIFFClose(tif);
  return pages;
}

}  // namespace kestrel::test
