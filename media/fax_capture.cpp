#include "media/fax_capture.h"

#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

struct CTiffClose {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffFile = std::unique_ptr<TIFF, CTiffClose>;

Status TiffFailure(const std::string& text) { return Status::Failed("TIFF", text); }

template <class T>
void CopyField(TIFF* in, TIFF* out, ttag_t tag) {
  T value{};
  if (TIFFGetField(in, tag, &value)) TIFFSetField(out, tag, value);
}

// One page of `in` (its current directory) as the next page of `out`.
bool CopyPage(TIFF* in, TIFF* out, std::uint16_t number, std::uint16_t total) {
  // The coding first: libtiff knows T4Options and T6Options only after it.
  CopyField<std::uint16_t>(in, out, TIFFTAG_COMPRESSION);
  for (const ttag_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP, TIFFTAG_T4OPTIONS,
                           TIFFTAG_T6OPTIONS, TIFFTAG_BADFAXLINES, TIFFTAG_CONSECUTIVEBADFAXLINES})
    CopyField<std::uint32_t>(in, out, tag);
  for (const ttag_t tag : {TIFFTAG_BITSPERSAMPLE, TIFFTAG_PHOTOMETRIC, TIFFTAG_FILLORDER, TIFFTAG_ORIENTATION,
                           TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PLANARCONFIG, TIFFTAG_RESOLUTIONUNIT, TIFFTAG_CLEANFAXDATA})
    CopyField<std::uint16_t>(in, out, tag);
  for (const ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION}) CopyField<float>(in, out, tag);
  for (const ttag_t tag : {TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_SOFTWARE, TIFFTAG_DATETIME, TIFFTAG_HOSTCOMPUTER})
    CopyField<const char*>(in, out, tag);
  TIFFSetField(out, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(out, TIFFTAG_PAGENUMBER, number, total);
  std::vector<std::uint8_t> strip;
  for (tstrip_t n = 0; n < TIFFNumberOfStrips(in); ++n) {
    const tmsize_t size = TIFFRawStripSize(in, n);
    if (size < 0) return false;
    strip.resize(static_cast<std::size_t>(size));
    if (TIFFReadRawStrip(in, n, strip.data(), size) != size || TIFFWriteRawStrip(out, n, strip.data(), size) != size)
      return false;
  }
  return TIFFWriteDirectory(out) == 1;
}

}  // namespace

Status AppendFaxPages(const std::string& from, const std::string& to) {
  const std::string joined = to + ".joined";
  {
    TiffFile first(TIFFOpen(to.c_str(), "r"));
    TiffFile second(TIFFOpen(from.c_str(), "r"));
    if (!first || !second) return TiffFailure("cannot read the parts of " + to);
    const auto total =
        static_cast<std::uint16_t>(TIFFNumberOfDirectories(first.get()) + TIFFNumberOfDirectories(second.get()));
    TiffFile out(TIFFOpen(joined.c_str(), "w"));
    if (!out) return TiffFailure("cannot write " + joined);
    std::uint16_t number = 0;
    for (TIFF* part : {first.get(), second.get()}) {
      TIFFSetDirectory(part, 0);
      do {
        if (!CopyPage(part, out.get(), number++, total)) {
          std::remove(joined.c_str());
          return TiffFailure("cannot copy page " + std::to_string(number) + " into " + joined);
        }
      } while (TIFFReadDirectory(part));
    }
  }
  if (std::rename(joined.c_str(), to.c_str()) != 0) return TiffFailure("cannot rename " + joined + " to " + to);
  std::remove(from.c_str());
  return {};
}

}  // namespace kestrel
