#include "tools/sff-make/memory_tiff.h"

#include <algorithm>
#include <cstring>

namespace kestrel::tools {
namespace {

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

}  // namespace

TIFF* CMemoryTiff::Open(const char* mode) {
  Close();
  if (mode[0] == 'w') bytes_.clear();
  pos_ = 0;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  tif_ = TIFFClientOpenExt("memory", mode, this, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, NoMap, NoUnmap,
                           options);
  TIFFOpenOptionsFree(options);
  return tif_;
}

void CMemoryTiff::Close() {
  if (tif_ != nullptr) TIFFClose(tif_);
  tif_ = nullptr;
}

tmsize_t CMemoryTiff::ReadProc(thandle_t h, void* out, tmsize_t size) {
  auto* self = static_cast<CMemoryTiff*>(h);
  if (size < 0 || self->pos_ >= self->bytes_.size()) return 0;
  auto n = static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(size), self->bytes_.size() - self->pos_));
  std::memcpy(out, self->bytes_.data() + self->pos_, n);
  self->pos_ += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t CMemoryTiff::WriteProc(thandle_t h, void* in, tmsize_t size) {
  auto* self = static_cast<CMemoryTiff*>(h);
  if (size < 0) return 0;
  const auto n = static_cast<std::size_t>(size);
  if (self->pos_ + n > self->bytes_.size()) self->bytes_.resize(self->pos_ + n);
  std::memcpy(self->bytes_.data() + self->pos_, in, n);
  self->pos_ += n;
  return size;
}

toff_t CMemoryTiff::SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* self = static_cast<CMemoryTiff*>(h);
  std::uint64_t base = whence == SEEK_CUR ? self->pos_ : whence == SEEK_END ? self->bytes_.size() : 0;
  self->pos_ = base + offset;
  return self->pos_;
}

int CMemoryTiff::CloseProc(thandle_t) { return 0; }

toff_t CMemoryTiff::SizeProc(thandle_t h) { return static_cast<CMemoryTiff*>(h)->bytes_.size(); }

void SetCodedLineFields(TIFF* tif, std::uint32_t width, std::uint32_t rows) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTRLE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

}  // namespace kestrel::tools
