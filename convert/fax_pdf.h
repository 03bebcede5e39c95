// CFaxPdf: one received fax as a PDF document, built and written by qpdf.
// Each page is the decoded 1-bit page as it is, compressed with CCITT Group 4
// by libtiff's codec (group4_encoder.h), on
// a page as large as its pixels at its resolution (a fine 1728 x 2286 page at
// 204 x 196 dots per inch is 215 x 296 mm): no scaling, no dithering. Only a
// page too large or too small for a PDF page (over 200 or under 1/24 inch,
// which no fax machine sends) is drawn to the nearest size PDF allows. The
// words recognised on a page, when given, lie invisibly over its image
// (pdf_text_layer.h), so that the document can be searched.
//
// The document is built in memory (a page costs its compressed bytes) and
// written under a temporary name that is renamed into place, so a reader
// never sees half a file. AddPage and Save answer a Status and write a
// failure, described, to the event log themselves. Not thread-safe: one
// document per conversion.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/fax_document_info.h"
#include "convert/page_word.h"
#include "core/result.h"

namespace kestrel {

class CFaxPage;
class IEventLog;

class CFaxPdf {
 public:
  CFaxPdf(const FaxDocumentInfo& info, IEventLog& log);
  ~CFaxPdf();
  CFaxPdf(const CFaxPdf&) = delete;
  CFaxPdf& operator=(const CFaxPdf&) = delete;

  // Appends `page` (not empty) at its ResolutionX() x ResolutionY(), with
  // `words` read from it as its text. Fails, logged, when it could not be
  // added (unlogged for an empty page or a document that never started); the
  // pages before it stay.
  [[nodiscard]] Status AddPage(const CFaxPage& page, const std::vector<PageWord>& words = {});
  [[nodiscard]] int PageCount() const { return pages_; }

  // Writes the document to `path`, replacing any file there. Fails, logged,
  // when it could not be written; nothing is then left at `path` or beside it.
  [[nodiscard]] Status Save(const std::string& path);

 private:
  struct CDocument;

  Status Logged(Status failure);

  IEventLog& log_;
  std::unique_ptr<CDocument> doc_;  // none when qpdf could not start one
  int pages_ = 0;
};

}  // namespace kestrel
