#include "convert/sff_converter.h"

#include <cstdint>
#include <memory>
#include <unistd.h>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/fax_pdf.h"
#include "convert/line_decoder.h"
#include "convert/page_image_writer.h"
#include "convert/page_text_recognizer.h"
#include "convert/sff_file.h"
#include "core/event_log.h"

namespace kestrel {

ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log,
                                const FaxDocumentInfo& info, const TextRecognitionOptions& text) {
  ConvertedFax result;
  if (format == ImageFormat::Sff) {
    result.pageCount = 0;
    if (::access(sffPath.c_str(), F_OK) == 0) result.files.push_back(sffPath);
    return result;
  }
  if (format != ImageFormat::Tiff && format != ImageFormat::Pdf && !IsPagePerFile(format)) {
    result.pageCount = 0;
    return result;
  }

  Result<CSffFile> sff = CSffFile::Open(sffPath, log);
  if (!sff) {
    log.WriteEventText("SFF file error " + sff.Error().text);
    return result;
  }

  const int pages = sff->PageCount();
  // The PDF keeps every line once, at its page's own resolution; the image
  // formats show a normal-resolution document with its lines doubled.
  const bool pdf = format == ImageFormat::Pdf;
  const bool doubled = !pdf && sff->VerticalResolution() == 0;
  const std::string tiffPath = FaxFilePath(sffPath, ImageFormat::Tiff);
  std::unique_ptr<CFaxPdf> document = pdf ? std::make_unique<CFaxPdf>(info, log) : nullptr;
  std::unique_ptr<CPageTextRecognizer> recognizer =
      pdf && !text.languages.empty() ? std::make_unique<CPageTextRecognizer>(text, log) : nullptr;
  // All white when the conversion starts; kept from line to line and page to page.
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  CFaxPage page;
  int tiffPages = 0;  // pages already in the TIFF: the next one's index
  for (int n = 1; n <= pages; ++n) {
    bool written = false;
    const bool decoded = DecodeSffPage(*sff, n, doubled, row.data(), page, log).Ok();
    if (decoded) {
      if (pdf) {
        page.SetResolution(kFaxHorizontalResolution,
                           sff->PageVerticalResolution(n) == 0 ? kFaxNormalResolution : kFaxFineResolution);
        written = document->AddPage(page, recognizer ? recognizer->Recognize(page, n) : std::vector<PageWord>{}).Ok();
      } else if (format == ImageFormat::Tiff) {
        written = AppendPageToTiff(page, tiffPath, tiffPages, log).Ok();
        if (written) ++tiffPages;
      } else {
        const std::string path = PageFilePath(sffPath, format, pages, n);
        written = WritePageImage(page, format, path, log).Ok();
        if (written) result.files.push_back(path);
      }
    }
    if (!decoded) result.refusedPages.push_back(n);
    if (decoded && !written) result.writeFailed = true;
    if (!written && IsPagePerFile(format) && result.firstMissingPage == 0) result.firstMissingPage = n;
  }
  if (tiffPages > 0) result.files.push_back(tiffPath);
  if (document && document->PageCount() > 0) {
    const std::string pdfPath = FaxFilePath(sffPath, ImageFormat::Pdf);
    if (document->Save(pdfPath).Ok())
      result.files.push_back(pdfPath);
    else
      result.writeFailed = true;
  }
  result.pageCount = pages;
  result.endsWithinPage = sff->EndsWithinPage();
  return result;
}

}  // namespace kestrel
