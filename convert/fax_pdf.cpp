// qpdf keeps the objects and writes the file (cross-reference table, object
// numbers, string escaping); this file only says which objects a fax page is:
// an image XObject whose data is already Group 4, a content stream that
// draws it over the whole page and, when words were read from the page, the
// invisible text over it in the one font the document shares.
#include "convert/fax_pdf.h"

// qpdf's own smart pointers stay out of this file's view.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <unistd.h>

#include "convert/fax_page.h"
#include "convert/group4_encoder.h"
#include "convert/pdf_text_layer.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr double kPointsPerInch = 72.0;
// The page sizes PDF readers accept, in points (1/24 inch to 200 inches).
constexpr double kMinPageSize = 3.0;
constexpr double kMaxPageSize = 14400.0;

// "D:YYYYMMDDHHmmSS+HH'mm'" in local time.
std::string PdfDate(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char date[40];
  std::strftime(date, sizeof(date), "D:%Y%m%d%H%M%S", &tm);
  const int offset = static_cast<int>(tm.tm_gmtoff / 60) % (24 * 60);
  char zone[16];
  std::snprintf(zone, sizeof(zone), "%c%02d'%02d'", offset < 0 ? '-' : '+', std::abs(offset) / 60,
                std::abs(offset) % 60);
  return std::string(date) + zone;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f", value);
  return text;
}

}  // namespace

struct CFaxPdf::CDocument {
  QPDF pdf;
  std::string g4;         // one page's coded data, its memory reused from page to page
  QPDFObjectHandle font;  // the text layer's font, made for the first page with text

  QPDFObjectHandle TextFont() {
    if (font.isInitialized()) return font;
    QPDFObjectHandle widths = QPDFObjectHandle::newArray();
    for (int c = kTextLayerFirstChar; c <= kTextLayerLastChar; ++c)
      widths.appendItem(QPDFObjectHandle::newInteger(kTextLayerGlyphWidth));
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/Font"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Type1"));
    dict.replaceKey("/BaseFont", QPDFObjectHandle::newName("/Helvetica"));
    dict.replaceKey("/Encoding", QPDFObjectHandle::newName("/WinAnsiEncoding"));
    dict.replaceKey("/FirstChar", QPDFObjectHandle::newInteger(kTextLayerFirstChar));
    dict.replaceKey("/LastChar", QPDFObjectHandle::newInteger(kTextLayerLastChar));
    dict.replaceKey("/Widths", widths);
    font = pdf.makeIndirectObject(dict);
    return font;
  }
};

CFaxPdf::CFaxPdf(const FaxDocumentInfo& info, IEventLog& log) : log_(log) {
  try {
    auto doc = std::make_unique<CDocument>();
    doc->pdf.emptyPDF();
    QPDFObjectHandle documentInfo = QPDFObjectHandle::newDictionary();
    documentInfo.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(FaxDocumentTitle(info)));
    documentInfo.replaceKey(
        "/CreationDate", QPDFObjectHandle::newString(PdfDate(info.received != 0 ? info.received : std::time(nullptr))));
    doc->pdf.getTrailer().replaceKey("/Info", doc->pdf.makeIndirectObject(documentInfo));
    doc_ = std::move(doc);
  } catch (const std::exception& e) {
    log_.WriteEventText(std::string("The PDF document could not be started: ") + e.what());
  }
}

CFaxPdf::~CFaxPdf() = default;

Status CFaxPdf::Logged(Status failure) {
  log_.WriteEventText(failure.Describe());
  return failure;
}

Status CFaxPdf::AddPage(const CFaxPage& page, const std::vector<PageWord>& words) {
  const std::string number = std::to_string(pages_ + 1);
  if (!doc_) return Status::Failed("Page " + number + " of the PDF", "the document was not started.");
  if (page.Empty()) return Status::Failed("Page " + number + " of the PDF", "the page is empty.");
  if (!EncodeGroup4(page, doc_->g4).Ok())
    return Logged(Status::Failed("", "Page " + number + " of the PDF could not be coded."));
  // The page's size in points follows from its pixels; only sizes PDF cannot
  // hold are brought to the nearest it can, the proportions kept where the
  // page is too large.
  double width = page.Width() * kPointsPerInch / page.ResolutionX();
  double height = page.Height() * kPointsPerInch / page.ResolutionY();
  const double shrink = std::min(1.0, kMaxPageSize / std::max(width, height));
  width = std::max(width * shrink, kMinPageSize);
  height = std::max(height * shrink, kMinPageSize);
  try {
    QPDF& pdf = doc_->pdf;
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
    QPDFObjectHandle imageDict = image.getDict();
    imageDict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    imageDict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    imageDict.replaceKey("/Width", QPDFObjectHandle::newInteger(page.Width()));
    imageDict.replaceKey("/Height", QPDFObjectHandle::newInteger(page.Height()));
    imageDict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
    imageDict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
    QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
    parameters.replaceKey("/K", QPDFObjectHandle::newInteger(-1));
    parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(page.Width()));
    parameters.replaceKey("/Rows", QPDFObjectHandle::newInteger(page.Height()));
    image.replaceStreamData(doc_->g4, QPDFObjectHandle::newName("/CCITTFaxDecode"), parameters);

    const std::string w = Number(width);
    const std::string h = Number(height);
    const std::string text = InvisibleTextOperators(words, page.Width(), page.Height(), width, height, "/F0");
    QPDFObjectHandle content = QPDFObjectHandle::newStream(&pdf, "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n" + text);
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    if (!text.empty()) {
      QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
      fonts.replaceKey("/F0", doc_->TextFont());
      resources.replaceKey("/Font", fonts);
    }
    QPDFObjectHandle mediaBox = QPDFObjectHandle::newArray();
    mediaBox.appendItem(QPDFObjectHandle::newInteger(0));
    mediaBox.appendItem(QPDFObjectHandle::newInteger(0));
    mediaBox.appendItem(QPDFObjectHandle::parse(w));
    mediaBox.appendItem(QPDFObjectHandle::parse(h));
    QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
    pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    pageDict.replaceKey("/MediaBox", mediaBox);
    pageDict.replaceKey("/Resources", resources);
    pageDict.replaceKey("/Contents", content);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(pageDict)), false);
  } catch (const std::exception& e) {
    return Logged(Status::Failed("Page " + number + " could not be added to the PDF", e.what()));
  }
  ++pages_;
  return {};
}

Status CFaxPdf::Save(const std::string& path) {
  if (!doc_) return Status::Failed("The PDF file " + path, "the document was not started.");
  const std::string temporary = path + ".part";
  try {
    QPDFWriter writer(doc_->pdf, temporary.c_str());
    writer.write();
  } catch (const std::exception& e) {
    ::unlink(temporary.c_str());
    return Logged(Status::Failed("Can not write the PDF file " + path, e.what()));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return Logged(Status::Failed("", "Can not write the PDF file " + path));
  }
  return {};
}

}  // namespace kestrel
