#include "convert/sff_converter.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include "convert/bmp_page_file.h"
#include "convert/fax_image.h"
#include "convert/sff_exception.h"
#include "convert/tiff_pages.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr double kInchesPerCentimetre = 0.39370078740157477;
constexpr double kA4WidthCentimetres = 21.0;

std::string Format(const char* format, int a, unsigned long long b) {
  char text[160];
  std::snprintf(text, sizeof(text), format, a, b);
  return text;
}

// Scales the page image down to the width of an A4 sheet when it is wider.
void ScaleToA4(CFaxImage& image) {
  const int target = static_cast<int>(image.ResolutionX() * kInchesPerCentimetre * kA4WidthCentimetres);
  int newWidth = image.Width();
  int newHeight = image.Height();
  if (image.Width() > target) {
    const double factor = 1.0 / (static_cast<double>(image.Width()) / target);
    newWidth = static_cast<int>(image.Width() * factor);
    newHeight = static_cast<int>(image.Height() * factor);
  }
  image.Resize(newWidth, newHeight);  // a failed resize leaves the page unscaled
}

}  // namespace

namespace {

std::string SffPageImagePath(const std::string& sffPath, OutputKind kind, int pageCount, int page) {
  return PageFilePath(sffPath, kind == OutputKind::Png ? ImageFormat::Png : ImageFormat::Jpg, pageCount, page);
}

std::string SffTiffPath(const std::string& sffPath) { return FaxFilePath(sffPath, ImageFormat::Tiff); }

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

bool WriteSffPageBitmap(CSffFile& sff, int page, bool doubled, std::uint8_t* row, SffRecord& record,
                        CBmpPageFile& bmp, const std::string& bmpPath, IEventLog& log) {
  const std::uint32_t width = sff.PageWidth(page);
  const std::int32_t lines = sff.PageLines(page);
  if (width == 0 || width > kMaxPageWidth) {
    log.WriteEventText(Format("Page %d of the fax is not converted: a width of %llu pixels is not supported.", page, width));
    return false;
  }
  if (lines <= 0) {
    log.WriteEventText("Page " + std::to_string(page) + " of the fax is not converted: it has no lines.");
    return false;
  }
  const unsigned times = doubled ? 2 : 1;
  std::uint64_t rows = static_cast<std::uint64_t>(lines) * times;
  if (rows * width > kMaxPagePixels) {
    rows = kMaxPagePixels / width;
    log.WriteEventText(Format("Page %d of the fax is too long and is cut after %llu rows.", page, rows));
  }
  bmp.WriteHeader(bmpPath, width, static_cast<std::uint32_t>(rows));
  sff.SeekPage(page);
  // Every record is read, also once the page is full, so that the row buffer
  // leaves the page as its last line left it.
  while (sff.NextRecord(record)) {
    switch (record.type) {
      case SffRecordType::CodedLine:
        if (DecodeRecordToRow(record, row, RowBufferSize)) bmp.WriteRow(row, times);
        break;
      case SffRecordType::WhiteSkip:
        std::memset(row, 0, RowBufferSize);
        bmp.WriteWhiteRows(std::uint64_t{record.count} * times);
        break;
      case SffRecordType::IllegalLine:
        bmp.WriteRow(row, times);
        break;
      case SffRecordType::UserInfo:
        break;
    }
  }
  if (!bmp.Close()) {
    log.WriteEventText("could not open file: \"" + bmpPath + "\" ");
    return false;
  }
  return true;
}

int ConvertSffToImages(const std::string& sffPath, OutputKind kind, IEventLog& log) {
  CFaxImage image(log);
  const std::string folder = SffFolder(sffPath);
  const std::string tempPath = folder + "TempFax.bmp";
  const std::string multiPath = folder + "multitemp.bmp";
  CBmpPageFile bmp;

  std::unique_ptr<CSffFile> sff;
  try {
    sff = std::make_unique<CSffFile>(sffPath, log);
  } catch (const CSffException& e) {
    log.WriteEventText("SFF file error " + e.GetErrorText());
    return -1;
  }

  const int pages = sff->PageCount();
  const bool doubled = sff->VerticalResolution() == 0;
  // All white when the conversion starts; kept from line to line and page to page.
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  SffRecord record;
  int tiffPages = 0;  // pages already in the TIFF: the next one's index
  for (int n = 1; n <= pages; ++n) {
    if (!WriteSffPageBitmap(*sff, n, doubled, row.data(), record, bmp, tempPath, log)) continue;
    if (image.Load(tempPath) != 0) continue;
    ScaleToA4(image);
    switch (kind) {
      case OutputKind::Tiff:
        if (image.Save(multiPath, ImageFileType::Bmp) == 0 &&
            AppendPageToTiff(SffTiffPath(sffPath), multiPath, tiffPages, log) == 0)
          ++tiffPages;
        ::unlink(multiPath.c_str());
        break;
      case OutputKind::Jpeg:
        image.Save(SffPageImagePath(sffPath, kind, pages, n), ImageFileType::Jpeg);
        break;
      case OutputKind::Png:
        image.Save(SffPageImagePath(sffPath, kind, pages, n), ImageFileType::Png);
        break;
    }
  }
  sff.reset();
  ::unlink(tempPath.c_str());
  return pages;
}

ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log) {
  ConvertedFax result;
  switch (format) {
    case ImageFormat::Jpg:
    case ImageFormat::Png:
      result.pageCount =
          ConvertSffToImages(sffPath, format == ImageFormat::Png ? OutputKind::Png : OutputKind::Jpeg, log);
      for (int n = 1; n <= result.pageCount; ++n) {
        const std::string page = PageFilePath(sffPath, format, result.pageCount, n);
        if (FileExists(page)) {
          result.files.push_back(page);
        } else if (result.firstMissingPage == 0) {
          result.firstMissingPage = n;
        }
      }
      break;
    case ImageFormat::Tiff:
      result.pageCount = ConvertSffToImages(sffPath, OutputKind::Tiff, log);
      if (FileExists(SffTiffPath(sffPath))) result.files.push_back(SffTiffPath(sffPath));
      break;
    case ImageFormat::Sff:
      result.pageCount = 0;
      if (FileExists(sffPath)) result.files.push_back(sffPath);
      break;
    default:
      result.pageCount = 0;
      break;
  }
  return result;
}

}  // namespace kestrel
