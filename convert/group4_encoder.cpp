// libtiff writes the page as the one strip of a TIFF held in memory; the
// strip's bytes are the Group 4 data, and the directory is never written.
#include "convert/group4_encoder.h"

#include <cstdint>
#include <cstring>
#include <new>

#include <tiffio.h>

#include "convert/fax_page.h"
#include "convert/image_error.h"

namespace kestrel {
namespace {

// The TIFF being written: libtiff writes, seeks and asks for the size; it
// reads nothing back from a file it creates.
struct CMemoryFile {
  std::string bytes;
  std::uint64_t pos = 0;
};

tmsize_t ReadNothing(thandle_t, void*, tmsize_t) { return 0; }

tmsize_t Write(thandle_t h, void* in, tmsize_t size) {
  auto* file = static_cast<CMemoryFile*>(h);
  if (size < 0) return 0;
  const auto n = static_cast<std::size_t>(size);
  try {
    if (file->pos + n > file->bytes.size()) file->bytes.resize(file->pos + n);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::memcpy(file->bytes.data() + file->pos, in, n);
  file->pos += n;
  return size;
}

toff_t Seek(thandle_t h, toff_t offset, int whence) {
  auto* file = static_cast<CMemoryFile*>(h);
  const std::uint64_t base = whence == SEEK_CUR ? file->pos : whence == SEEK_END ? file->bytes.size() : 0;
  file->pos = base + offset;
  return file->pos;
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return static_cast<CMemoryFile*>(h)->bytes.size(); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

Status EncodeGroup4(const CFaxPage& page, std::string& out) {
  out.clear();
  if (page.Empty()) return ImageFailure(ImageError::kBadParam);
  CMemoryFile file;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return ImageFailure(ImageError::kOutOfMemory);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  TIFF* tif = TIFFClientOpenExt("page", "w", &file, ReadNothing, Write, Seek, Close, Size, NoMap, NoUnmap, options);
  TIFFOpenOptionsFree(options);
  if (tif == nullptr) return ImageFailure(ImageError::kTiffInternal);

  const auto height = static_cast<std::uint32_t>(page.Height());
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.Width()));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);

  // The page's rows are contiguous and already what the codec reads; libtiff
  // only alters a source buffer it has to byte-swap, which 1-bit rows never are.
  const auto size = static_cast<tmsize_t>(page.Stride() * height);
  bool encoded = TIFFWriteEncodedStrip(tif, 0, const_cast<std::uint8_t*>(page.Row(0)), size) == size;
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  encoded = encoded && TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) == 1 &&
            TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) == 1 && offsets && counts && counts[0] > 0 &&
            offsets[0] <= file.bytes.size() && counts[0] <= file.bytes.size() - offsets[0];
  Status result = encoded ? Status() : ImageFailure(ImageError::kTiffInternal);
  if (encoded) {
    try {
      out.assign(file.bytes, static_cast<std::size_t>(offsets[0]), static_cast<std::size_t>(counts[0]));
    } catch (const std::bad_alloc&) {
      result = ImageFailure(ImageError::kOutOfMemory);
    }
  }
  TIFFCleanup(tif);  // frees without writing a directory nobody reads
  return result;
}

}  // namespace kestrel
