// libjpeg and libpng report errors by calling back; both callbacks here jump
// back to the encoder function, which then answers the image error. Only
// plain C data lives between the setjmp and the jump.
#include "convert/image_encoders.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include "convert/image_error.h"

namespace kestrel {
namespace {

struct CJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  ImageError code;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<CJpegError*>(info->err);
  error->code = info->err->msg_code == JERR_FILE_WRITE ? ImageError::kFileWrite : ImageError::kBadJpg;
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

Status WriteJpegFile(std::FILE* file, IImageRows& rows, int width, int height, int channels, int dpiX, int dpiY) {
  constexpr JDIMENSION kBatch = 32;
  const auto rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> batch(channels == 1 ? rowBytes * kBatch : 0);
  jpeg_compress_struct info;
  CJpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.output_message = JpegSilence;
  error.code = ImageError::kBadJpg;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return ImageFailure(error.code);
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
    JSAMPROW lines[kBatch];
    JDIMENSION n = 0;
    if (channels == 1) {
      // Grey rows are widened a batch at a time.
      for (; n < kBatch && info.next_scanline + n < info.image_height; ++n) {
        lines[n] = batch.data() + n * rowBytes;
        WidenRow(rows.Row(static_cast<int>(info.next_scanline + n)), width, lines[n]);
      }
    } else {
      // An RGB row goes in as it is: it is valid only until the next one is asked for.
      lines[n++] = const_cast<JSAMPROW>(rows.Row(static_cast<int>(info.next_scanline)));
    }
    jpeg_write_scanlines(&info, lines, n);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return {};
}

Status WritePngFile(std::FILE* file, IImageRows& rows, int width, int height, int channels, int dpiX, int dpiY) {
  const auto rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> widened(channels == 1 ? rowBytes : 0);
  CPngState state;
  state.file = file;
  state.writeFailed = false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  if (png == nullptr) return ImageFailure(ImageError::kOutOfMemory);
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return ImageFailure(ImageError::kOutOfMemory);
  }
  if (setjmp(state.jump)) {
    png_destroy_write_struct(&png, &info);
    return ImageFailure(state.writeFailed ? ImageError::kFileWrite : ImageError::kPngInternal);
  }
  png_set_write_fn(png, &state, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, static_cast<png_uint_32>(dpiX / 0.0254 + 0.5), static_cast<png_uint_32>(dpiY / 0.0254 + 0.5),
               PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = rows.Row(y);
    if (channels == 1) {
      WidenRow(row, width, widened.data());
      png_write_row(png, widened.data());
    } else {
      png_write_row(png, const_cast<png_bytep>(row));
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return {};
}

}  // namespace kestrel
