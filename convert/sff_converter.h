// ConvertSffToImages: turns one received capture file, an SFF file from the
// ISDN line or the TIFF file of an audio line (told apart by their first
// bytes), into the image files that are mailed, next to it (names from
// fax_file_names.h): one JPEG or PNG per page, one multi-page TIFF (for a
// TIFF capture the capture itself), one PDF, or (for a TIFF capture) the SFF
// file written from its pages (sff_writer.h). Each page is decoded into a
// 1-bit page in memory (CFaxPage) and written from there (page_image_writer.h,
// fax_pdf.h); nothing else is written, and memory does not grow with the
// page count (the PDF holds each page's compressed bytes and words until it
// is saved). It answers too which pages the capture notes as received with
// lines that could not be repaired.
//
// Reads a capture an unknown sender controls (see CSffFile, CTiffCapture, the
// line decoder and CFaxPage for how it is bounded). Refused pages and failed
// writes are written to the event log; the conversion always goes on with the
// next page, so it answers what it wrote (ConvertedFax) rather than a Status;
// the steps below it answer Status and Result (core/result.h). Two
// conversions may run at once as long as they do not write the same files.
#pragma once

#include <string>
#include <vector>

#include "convert/fax_document_info.h"
#include "convert/fax_page.h"
#include "convert/text_recognition_options.h"
#include "core/image_format.h"

namespace kestrel {

class IEventLog;

// What a conversion answers: the files it wrote, in page order, and the page
// count it read from the document.
struct ConvertedFax {
  // Pages the document holds; -1 when the capture's reader refused the file,
  // 0 when nothing was read (the Sff format of an SFF capture, or a number
  // that names no format).
  int pageCount = -1;
  // The files written, in page order: one per page written (Jpg, Png), the
  // one TIFF or PDF when at least one page went into it, or for Sff the
  // capture file itself when it exists (an SFF capture) or the SFF file
  // written from the pages (a TIFF capture).
  std::vector<std::string> files;
  // Page-per-file formats: the first page whose file was not written (the
  // page was refused, or its file could not be written), 0 when every page
  // was. The files of the pages before it are the first entries of `files`.
  int firstMissingPage = 0;
  // A page was decoded but its file could not be written (a full disk, a
  // folder without write access): the conversion is worth trying again.
  bool writeFailed = false;
  // Every page the decoder refused (any format), in page order: converting
  // again cannot help, the other pages are in `files` all the same.
  std::vector<int> refusedPages;
  // The document ends inside its last page (see CSffFile::EndsWithinPage):
  // that page is in `files` as far as it came.
  bool endsWithinPage = false;
  // The pages the capture notes as received with lines that were not
  // repaired, in page order (whatever the format, refused pages included);
  // always empty for an SFF capture.
  std::vector<DamagedPage> damagedPages;
};

// A page counts as written when its encoder succeeded (for the PDF: when it
// went into the document and the document was saved). The SFF reader's
// refusal is logged as "SFF file error " and its text. `info` gives the PDF
// its title and creation date; `text`, when it names languages, has each
// page of the PDF read for its invisible text layer (page_text_recognizer.h:
// what recognition cannot do costs that layer only, never a page). The other
// formats use neither.
[[nodiscard]] ConvertedFax ConvertSffToImages(const std::string& sffPath, ImageFormat format, IEventLog& log,
                                              const FaxDocumentInfo& info = {},
                                              const TextRecognitionOptions& text = {});

}  // namespace kestrel
