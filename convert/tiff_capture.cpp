#include "convert/tiff_capture.h"

#include <algorithm>
#include <cstdio>
#include <tiffio.h>
#include <vector>

#include "core/event_log.h"

namespace kestrel {

namespace {

int KeepMessage(TIFF*, void* user, const char*, const char*, va_list) {
  ++*static_cast<int*>(user);
  return 1;
}

// The most pages a capture is read for, as for SFF.
constexpr int kMaxCapturePages = 100;

}  // namespace

struct CTiffCapture::CFile {
  TIFF* tiff = nullptr;
  int messages = 0;  // libtiff's errors and warnings, kept off standard error
  ~CFile() {
    if (tiff) TIFFClose(tiff);
  }
};

bool IsTiffFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char magic[4] = {};
  const bool read = std::fread(magic, 1, 4, file) == 4;
  std::fclose(file);
  return read && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                  (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42));
}

Result<CTiffCapture> CTiffCapture::Open(const std::string& path) {
  auto file = std::make_unique<CFile>();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepMessage, &file->messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, KeepMessage, &file->messages);
  file->tiff = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  if (!file->tiff) return Failure{"TIFF", "\"" + path + "\" is not a TIFF file that can be read", 0};
  int pages = 1;
  while (pages < kMaxCapturePages && TIFFReadDirectory(file->tiff)) ++pages;
  CTiffCapture capture(std::move(file));
  capture.pages_ = pages;
  return capture;
}

CTiffCapture::CTiffCapture(std::unique_ptr<CFile> file) : file_(std::move(file)) {}
CTiffCapture::~CTiffCapture() = default;
CTiffCapture::CTiffCapture(CTiffCapture&&) noexcept = default;
CTiffCapture& CTiffCapture::operator=(CTiffCapture&&) noexcept = default;

bool CTiffCapture::SelectPage(int page) {
  return page >= 1 && page <= pages_ && TIFFSetDirectory(file_->tiff, static_cast<tdir_t>(page - 1));
}

bool CTiffCapture::PageFine(int page) {
  if (!SelectPage(page)) return false;
  float resolution = 0;
  std::uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(file_->tiff, TIFFTAG_YRESOLUTION, &resolution) || resolution <= 0) return true;
  TIFFGetFieldDefaulted(file_->tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit == RESUNIT_CENTIMETER) resolution *= 2.54f;
  return resolution > 150;
}

std::optional<DamagedPage> CTiffCapture::PageDamage(int page) {
  if (!SelectPage(page)) return std::nullopt;
  TIFF* tiff = file_->tiff;
  // libtiff knows the fax tags only in a fax-coded directory; elsewhere they
  // would be read as anonymous fields of whatever type the file claims.
  std::uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_CCITTFAX3 && compression != COMPRESSION_CCITTFAX4) return std::nullopt;
  std::uint16_t clean = CLEANFAXDATA_CLEAN;
  std::uint32_t badLines = 0;
  std::uint32_t consecutive = 0;
  TIFFGetField(tiff, TIFFTAG_CLEANFAXDATA, &clean);
  TIFFGetField(tiff, TIFFTAG_BADFAXLINES, &badLines);
  TIFFGetField(tiff, TIFFTAG_CONSECUTIVEBADFAXLINES, &consecutive);
  const bool saysDamaged = clean == CLEANFAXDATA_REGENERATED || clean == CLEANFAXDATA_UNCLEAN;
  if (!saysDamaged && badLines == 0 && consecutive == 0) return std::nullopt;
  std::uint32_t height = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  // A run of bad lines is as many bad lines at least, whatever the count says.
  return DamagedPage{page, std::min(std::max(badLines, consecutive), height)};
}

Status CTiffCapture::DecodePage(int page, bool doubleNormal, CFaxPage& out, IEventLog& log) {
  const std::string refused = "Page " + std::to_string(page) + " of the fax is not converted";
  const auto refuse = [&log, &refused](const std::string& why) {
    Status refusal = Status::Failed(refused, why);
    log.WriteEventText(refusal.Describe());
    return refusal;
  };
  const bool doubled = doubleNormal && !PageFine(page);
  if (!SelectPage(page)) return refuse("the file has no such page.");
  TIFF* tiff = file_->tiff;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 1;
  std::uint16_t samples = 1;
  std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  if (width == 0 || width > kMaxPageWidth)
    return refuse("a width of " + std::to_string(width) + " pixels is not supported.");
  if (height == 0) return refuse("it has no lines.");
  if (bits != 1 || samples != 1 || TIFFIsTiled(tiff)) return refuse("it is not a black and white fax page.");

  const unsigned times = doubled ? 2 : 1;
  std::uint64_t rows = std::uint64_t{height} * times;
  if (rows * width > kMaxPagePixels) {
    rows = kMaxPagePixels / width;
    log.WriteEventText("Page " + std::to_string(page) + " of the fax is too long and is cut after " +
                       std::to_string(rows) + " rows.");
  }
  if (!out.Reset(width, static_cast<std::uint32_t>(rows))) return refuse("its memory could not be had.");
  const std::size_t stride = out.Stride();
  // libtiff writes a whole scan line's worth, whatever the strip claims.
  std::vector<std::uint8_t> row(std::max<std::size_t>(stride, static_cast<std::size_t>(TIFFScanlineSize(tiff))));
  const std::uint32_t sourceRows = static_cast<std::uint32_t>((rows + times - 1) / times);
  for (std::uint32_t y = 0; y < sourceRows; ++y) {
    if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) break;
    if (photometric == PHOTOMETRIC_MINISBLACK)
      for (std::size_t i = 0; i < stride; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
    out.AppendRow(row.data(), times);
  }
  return Status();
}

}  // namespace kestrel
