// libjpeg and libpng report errors by calling back; both callbacks here jump
// back to the encoder function, which then answers the image error code. Only
// plain C data lives between the setjmp and the jump.
#include "convert/fax_image.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include "convert/bmp_reader.h"
#include "convert/byte_io.h"
#include "convert/image_error.h"
#include "convert/image_resize.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr double kInchesPerCentimetre = 0.39370078740157477;

struct CJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  int code;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<CJpegError*>(info->err);
  error->code = info->err->msg_code == JERR_FILE_WRITE ? kImageFileWrite : kImageBadJpg;
  std::longjmp(error->jump, 1);
}

void JpegSilence(j_common_ptr) {}

struct CPngState {
  std::jmp_buf jump;
  std::FILE* file;
  bool writeFailed;
};

[[noreturn]] void PngError(png_structp png, png_const_charp) {
  auto* state = static_cast<CPngState*>(png_get_error_ptr(png));
  std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, png_size_t size) {
  auto* state = static_cast<CPngState*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, size, state->file) != size) {
    state->writeFailed = true;
    png_error(png, "write");
  }
}

void PngFlush(png_structp) {}

#if defined(__x86_64__)
// 16 grey pixels at a time spread into 48 bytes by byte shuffles.
__attribute__((target("ssse3"))) int WidenRowSsse3(const std::uint8_t* gray, int width, std::uint8_t* rgb) {
  const __m128i m0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
  const __m128i m1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
  const __m128i m2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(gray + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + x * 3), _mm_shuffle_epi8(g, m0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + x * 3 + 16), _mm_shuffle_epi8(g, m1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + x * 3 + 32), _mm_shuffle_epi8(g, m2));
  }
  return x;
}
#endif

// One grey row as red, green, blue (blue, green, red is the same).
void WidenRow(const std::uint8_t* gray, int width, std::uint8_t* rgb) {
  int x = 0;
#if defined(__x86_64__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) x = WidenRowSsse3(gray, width, rgb);
#endif
  for (; x < width; ++x) rgb[x * 3] = rgb[x * 3 + 1] = rgb[x * 3 + 2] = gray[x];
}

}  // namespace

int WriteJpegFile(std::FILE* file, const std::uint8_t* pixels, int width, int height, int channels, int dpiX,
                  int dpiY) {
  constexpr JDIMENSION kBatch = 32;
  const auto rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> widened(channels == 1 ? rowBytes * kBatch : 0);
  jpeg_compress_struct info;
  CJpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.output_message = JpegSilence;
  error.code = kImageOk;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return error.code;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kJpegQuality, TRUE);
  info.density_unit = 1;  // dots per inch
  info.X_density = static_cast<UINT16>(dpiX);
  info.Y_density = static_cast<UINT16>(dpiY);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[kBatch];
    JDIMENSION n = 0;
    for (; n < kBatch && info.next_scanline + n < info.image_height; ++n) {
      const std::size_t y = info.next_scanline + n;
      if (channels == 1) {
        WidenRow(pixels + y * static_cast<std::size_t>(width), width, widened.data() + n * rowBytes);
        rows[n] = widened.data() + n * rowBytes;
      } else {
        rows[n] = const_cast<JSAMPROW>(pixels + y * rowBytes);
      }
    }
    jpeg_write_scanlines(&info, rows, n);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return kImageOk;
}

int WritePngFile(std::FILE* file, const std::uint8_t* pixels, int width, int height, int channels, int dpiX,
                 int dpiY) {
  const auto rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> widened(channels == 1 ? rowBytes : 0);
  CPngState state;
  state.file = file;
  state.writeFailed = false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (png == nullptr) return kImageOutOfMemory;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return kImageOutOfMemory;
  }
  if (setjmp(state.jump)) {
    png_destroy_write_struct(&png, &info);
    return state.writeFailed ? kImageFileWrite : kImagePngInternal;
  }
  png_set_write_fn(png, &state, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, static_cast<png_uint_32>(dpiX / 0.0254 + 0.5), static_cast<png_uint_32>(dpiY / 0.0254 + 0.5),
               PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    if (channels == 1) {
      WidenRow(pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), width, widened.data());
      png_write_row(png, widened.data());
    } else {
      png_write_row(png, const_cast<png_bytep>(pixels + static_cast<std::size_t>(y) * rowBytes));
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return kImageOk;
}

CFaxImage::CPixels CFaxImage::Allocate(std::size_t bytes) const {
  CPixels block(static_cast<std::uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes)));
  if (!block) {
    char text[64];
    std::snprintf(text, sizeof(text), "Failed to allocate %zu BYTEs", bytes);
    log_.WriteEventText(text);
  }
  return block;
}

int CFaxImage::Load(const std::string& path) {
  resolutionX_ = resolutionY_ = kDefaultResolution;
  writeResolutionX_ = resolutionX_;
  writeResolutionY_ = resolutionY_;
  CBmpReader reader;
  int result = reader.Open(path);
  if (result == kImageFileOpen) return result;  // a source that cannot be opened is not logged
  CPixels block;
  const int channels = reader.IsGray() ? 1 : 3;
  const auto rowBytes = static_cast<std::size_t>(reader.Width()) * static_cast<std::size_t>(channels);
  if (result == kImageOk) {
    block = Allocate(rowBytes * static_cast<std::size_t>(reader.Height()));
    if (!block) return kImageOutOfMemory;
    for (int y = 0; y < reader.Height() && result == kImageOk; ++y) {
      std::uint8_t* row = block.get() + static_cast<std::size_t>(y) * rowBytes;
      result = channels == 1 ? reader.ReadRowGray(y, row) : reader.ReadRowRgb(y, row);
    }
  }
  if (result != kImageOk) {
    log_.WriteEventText(ImageErrorText(static_cast<unsigned>(result)));
    return result;
  }
  pixels_ = std::move(block);
  width_ = reader.Width();
  height_ = reader.Height();
  channels_ = channels;
  return kImageOk;
}

bool CFaxImage::Assign(int width, int height, int channels, const std::uint8_t* pixels) {
  if (width <= 0 || height <= 0 || (channels != 1 && channels != 3)) return false;
  const std::size_t bytes =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels);
  CPixels block = Allocate(bytes);
  if (!block) return false;
  std::memcpy(block.get(), pixels, bytes);
  pixels_ = std::move(block);
  width_ = width;
  height_ = height;
  channels_ = channels;
  return true;
}

bool CFaxImage::Resize(int newWidth, int newHeight) {
  if (!pixels_ || newWidth <= 0 || newHeight <= 0) return false;
  if (newWidth == width_ && newHeight == height_) return true;
  CPixels block = Allocate(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight) *
                           static_cast<std::size_t>(channels_));
  if (!block || !ResizePixels(pixels_.get(), width_, height_, channels_, block.get(), newWidth, newHeight)) return false;
  pixels_ = std::move(block);
  width_ = newWidth;
  height_ = newHeight;
  return true;
}

int CFaxImage::WriteBmp(std::FILE* file) const {
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 3;
  const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
  const std::size_t imageBytes = stride * static_cast<std::size_t>(height_);
  if (imageBytes + 54 > 0xFFFFFFFFu) return kImageBadParam;
  // The resolution goes in as pixels per centimetre (78 for 200 dots per
  // inch), which the file stores per metre.
  const auto perMetreX = static_cast<std::uint32_t>(writeResolutionX_ * kInchesPerCentimetre) * 100u;
  const auto perMetreY = static_cast<std::uint32_t>(writeResolutionY_ * kInchesPerCentimetre) * 100u;
  std::uint8_t h[54] = {'B', 'M'};
  Put32(h + 2, static_cast<std::uint32_t>(imageBytes + 54));
  Put32(h + 10, 54);
  Put32(h + 14, 40);
  Put32(h + 18, static_cast<std::uint32_t>(width_));
  Put32(h + 22, static_cast<std::uint32_t>(height_));
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  Put32(h + 34, static_cast<std::uint32_t>(imageBytes));
  Put32(h + 38, perMetreX);
  Put32(h + 42, perMetreY);
  if (std::fwrite(h, 1, sizeof(h), file) != sizeof(h) || std::fflush(file) != 0) return kImageFileWrite;

  // Bottom-up rows of blue, green, red, written a few hundred kilobytes at a
  // time straight to the file (the stream's buffer would only copy them).
  const std::size_t rowsPerChunk = std::max<std::size_t>(1, (256 * 1024) / stride);
  std::vector<std::uint8_t> chunk(rowsPerChunk * stride, 0);
  for (int fileRow = 0; fileRow < height_;) {
    std::size_t n = 0;
    for (; n < rowsPerChunk && fileRow < height_; ++n, ++fileRow) {
      const std::size_t y = static_cast<std::size_t>(height_ - 1 - fileRow);
      std::uint8_t* out = chunk.data() + n * stride;
      if (channels_ == 1) {
        WidenRow(pixels_.get() + y * static_cast<std::size_t>(width_), width_, out);
      } else {
        const std::uint8_t* in = pixels_.get() + y * rowBytes;
        for (std::size_t x = 0; x < rowBytes; x += 3) {
          out[x] = in[x + 2];
          out[x + 1] = in[x + 1];
          out[x + 2] = in[x];
        }
      }
    }
    if (!WriteAll(::fileno(file), chunk.data(), n * stride)) return kImageFileWrite;
  }
  return kImageOk;
}

int CFaxImage::Save(const std::string& path, ImageFileType type) const {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return kImageFileOpen;  // a destination that cannot be opened is not logged
  std::vector<char> buffer(256 * 1024);
  std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
  int result = kImageOk;
  if (!pixels_ || width_ <= 0 || height_ <= 0) {
    result = kImageBadParam;
  } else {
    switch (type) {
      case ImageFileType::Jpeg:
        result = WriteJpegFile(file, pixels_.get(), width_, height_, channels_, resolutionX_, resolutionY_);
        break;
      case ImageFileType::Png:
        result = WritePngFile(file, pixels_.get(), width_, height_, channels_, resolutionX_, resolutionY_);
        break;
      case ImageFileType::Bmp:
        result = WriteBmp(file);
        break;
      default:
        result = kImageBadParam;
    }
  }
  if (std::fclose(file) != 0 && result == kImageOk) result = kImageFileWrite;
  if (result != kImageOk) {
    ::unlink(path.c_str());
    log_.WriteEventText(ImageErrorText(static_cast<unsigned>(result)));
  }
  return result;
}

}  // namespace kestrel
