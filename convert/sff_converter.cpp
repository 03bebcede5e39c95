#include "convert/sff_converter.h"

#include <cstdint>
#include <memory>
#include <unistd.h>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/line_decoder.h"
#include "convert/page_image_writer.h"
#include "convert/sff_exception.h"
#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel {

ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log) {
  ConvertedFax result;
  if (format == ImageFormat::Sff) {
    result.pageCount = 0;
    if (::access(sffPath.c_str(), F_OK) == 0) result.files.push_back(sffPath);
    return result;
  }
  if (format != ImageFormat::Tiff && !IsPagePerFile(format)) {
    result.pageCount = 0;
    return result;
  }

  std::unique_ptr<CSffFile> sff;
  try {
    sff = std::make_unique<CSffFile>(sffPath, log);
  } catch (const CSffException& e) {
    log.WriteEventText("SFF file error " + e.GetErrorText());
    return result;
  }

  const int pages = sff->PageCount();
  const bool doubled = sff->VerticalResolution() == 0;
  const std::string tiffPath = FaxFilePath(sffPath, ImageFormat::Tiff);
  // All white when the conversion starts; kept from line to line and page to page.
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  CFaxPage page;
  int tiffPages = 0;  // pages already in the TIFF: the next one's index
  for (int n = 1; n <= pages; ++n) {
    bool written = false;
    const bool decoded = DecodeSffPage(*sff, n, doubled, row.data(), page, log);
    if (decoded) {
      if (format == ImageFormat::Tiff) {
        written = AppendPageToTiff(page, tiffPath, tiffPages, log) == 0;
        if (written) ++tiffPages;
      } else {
        const std::string path = PageFilePath(sffPath, format, pages, n);
        written = WritePageImage(page, format, path, log) == 0;
        if (written) result.files.push_back(path);
      }
    }
    if (decoded && !written) result.writeFailed = true;
    if (!written && IsPagePerFile(format) && result.firstMissingPage == 0) result.firstMissingPage = n;
  }
  if (tiffPages > 0) result.files.push_back(tiffPath);
  result.pageCount = pages;
  return result;
}

}  // namespace kestrel
