#include "convert/sff_converter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <unistd.h>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/fax_pdf.h"
#include "convert/line_decoder.h"
#include "convert/page_image_writer.h"
#include "convert/page_text_recognizer.h"
#include "convert/sff_file.h"
#include "convert/sff_writer.h"
#include "convert/tiff_capture.h"
#include "core/event_log.h"

namespace kestrel {

namespace {

// The pages of a capture, whichever file holds them.
class CCapturePages {
 public:
  virtual ~CCapturePages() = default;
  virtual int PageCount() const = 0;
  virtual bool PageFine(int page) = 0;
  // `imageRows`: the rows of a standard-resolution page as the image formats
  // show them, each line twice.
  virtual Status Decode(int page, bool imageRows, CFaxPage& out, IEventLog& log) = 0;
  virtual bool EndsWithinPage() const = 0;
  virtual std::optional<DamagedPage> PageDamage(int page) = 0;
};

class CSffPages final : public CCapturePages {
 public:
  explicit CSffPages(CSffFile sff) : sff_(std::move(sff)) {}
  int PageCount() const override { return sff_.PageCount(); }
  bool PageFine(int page) override { return sff_.PageVerticalResolution(page) != 0; }
  // An SFF document's lines are doubled by the resolution of the document
  // as a whole, as they always were.
  Status Decode(int page, bool imageRows, CFaxPage& out, IEventLog& log) override {
    return DecodeSffPage(sff_, page, imageRows && sff_.VerticalResolution() == 0, row_.data(), out, log);
  }
  bool EndsWithinPage() const override { return sff_.EndsWithinPage(); }
  // An SFF file keeps no note of damaged lines.
  std::optional<DamagedPage> PageDamage(int) override { return std::nullopt; }

 private:
  CSffFile sff_;
  // All white when the conversion starts; kept from line to line and page to page.
  std::vector<std::uint8_t> row_ = std::vector<std::uint8_t>(RowBufferSize, 0);
};

class CTiffPages final : public CCapturePages {
 public:
  explicit CTiffPages(CTiffCapture tiff) : tiff_(std::move(tiff)) {}
  int PageCount() const override { return tiff_.PageCount(); }
  bool PageFine(int page) override { return tiff_.PageFine(page); }
  Status Decode(int page, bool imageRows, CFaxPage& out, IEventLog& log) override {
    return tiff_.DecodePage(page, imageRows, out, log);
  }
  // The receiver closes its file after each whole page.
  bool EndsWithinPage() const override { return false; }
  std::optional<DamagedPage> PageDamage(int page) override { return tiff_.PageDamage(page); }

 private:
  CTiffCapture tiff_;
};

}  // namespace

ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log,
                                const FaxDocumentInfo& info, const TextRecognitionOptions& text) {
  ConvertedFax result;
  const bool tiffCapture = IsTiffFile(sffPath);
  if (format == ImageFormat::Sff && !tiffCapture) {
    result.pageCount = 0;
    if (::access(sffPath.c_str(), F_OK) == 0) result.files.push_back(sffPath);
    return result;
  }
  if (format != ImageFormat::Tiff && format != ImageFormat::Pdf && format != ImageFormat::Sff &&
      !IsPagePerFile(format)) {
    result.pageCount = 0;
    return result;
  }

  std::unique_ptr<CCapturePages> capture;
  if (tiffCapture) {
    Result<CTiffCapture> tiff = CTiffCapture::Open(sffPath);
    if (!tiff) {
      log.WriteEventText(tiff.Error().Describe());
      return result;
    }
    // The capture is a fax TIFF already, under the very name the TIFF
    // format gives: it is mailed as it is.
    if (format == ImageFormat::Tiff) {
      result.pageCount = tiff->PageCount();
      result.files.push_back(sffPath);
      for (int n = 1; n <= result.pageCount; ++n)
        if (std::optional<DamagedPage> damage = tiff->PageDamage(n)) result.damagedPages.push_back(*damage);
      return result;
    }
    capture = std::make_unique<CTiffPages>(std::move(*tiff));
  } else {
    Result<CSffFile> sff = CSffFile::Open(sffPath, log);
    if (!sff) {
      log.WriteEventText("SFF file error " + sff.Error().text);
      return result;
    }
    capture = std::make_unique<CSffPages>(std::move(*sff));
  }

  const int pages = capture->PageCount();
  // The PDF keeps every line once, at its page's own resolution; the image
  // formats show a normal-resolution page with its lines doubled.
  const bool pdf = format == ImageFormat::Pdf;
  // SFF, like the PDF, keeps every line once.
  const bool sff = format == ImageFormat::Sff;
  std::unique_ptr<CSffWriter> sffWriter = sff ? std::make_unique<CSffWriter>() : nullptr;
  const std::string tiffPath = FaxFilePath(sffPath, ImageFormat::Tiff);
  std::unique_ptr<CFaxPdf> document = pdf ? std::make_unique<CFaxPdf>(info, log) : nullptr;
  std::unique_ptr<CPageTextRecognizer> recognizer =
      pdf && !text.languages.empty() ? std::make_unique<CPageTextRecognizer>(text, log) : nullptr;
  CFaxPage page;
  int tiffPages = 0;  // pages already in the TIFF: the next one's index
  for (int n = 1; n <= pages; ++n) {
    bool written = false;
    const bool decoded = capture->Decode(n, !pdf && !sff, page, log).Ok();
    if (decoded) {
      if (sff) {
        sffWriter->AddPage(page, capture->PageFine(n));
        written = true;
      } else if (pdf) {
        page.SetResolution(kFaxHorizontalResolution, capture->PageFine(n) ? kFaxFineResolution : kFaxNormalResolution);
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
    if (std::optional<DamagedPage> damage = capture->PageDamage(n)) result.damagedPages.push_back(*damage);
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
  if (sffWriter && sffWriter->PageCount() > 0) {
    const std::string path = SffBaseName(sffPath) + ".sff";
    if (Status saved = sffWriter->Save(path); saved) {
      result.files.push_back(path);
    } else {
      log.WriteEventText(saved.Describe());
      result.writeFailed = true;
    }
  }
  result.pageCount = pages;
  result.endsWithinPage = capture->EndsWithinPage();
  return result;
}

}  // namespace kestrel
