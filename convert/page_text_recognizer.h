// CPageTextRecognizer: reads the words on a decoded fax page with Tesseract,
// for the invisible text layer of the fax's PDF. One recogniser serves one
// conversion: the language data is loaded once, then each page is read in
// turn, within the options' time limit per page.
//
// Its failures cost the text layer only: a language whose data is not
// installed is named in one event text when the recogniser starts (the
// others are used; with none the recogniser is not Ready()), and a page whose
// time runs out comes back without words, with one event text. The time limit
// covers Tesseract's word recognition, where nearly all of a letter's time
// goes; the layout analysis before it cannot be stopped and is bounded by the
// page's size only (kMaxPagePixels: a few seconds for the largest page of
// noise). The page's pixels come from the sender and are trusted for nothing
// but their count. Not thread-safe; two recognisers may run at once. No
// failure reaches the caller: it is logged, and costs words, never a Status.
#pragma once

#include <memory>
#include <vector>

#include "convert/page_word.h"
#include "convert/text_recognition_options.h"

namespace kestrel {

class CFaxPage;
class IEventLog;

class CPageTextRecognizer {
 public:
  // Loads the language data named in `options.languages` (see
  // TextRecognitionOptions). Language names are letters, digits, "_", "-"
  // and inner "/"; any other name counts as not installed.
  CPageTextRecognizer(const TextRecognitionOptions& options, IEventLog& log);
  ~CPageTextRecognizer();
  CPageTextRecognizer(const CPageTextRecognizer&) = delete;
  CPageTextRecognizer& operator=(const CPageTextRecognizer&) = delete;

  // At least one language was loaded.
  [[nodiscard]] bool Ready() const { return engine_ != nullptr; }

  // The words of `page` (not empty) in reading order; none when the
  // recogniser is not ready, when nothing was read, or when the time limit
  // ran out (logged with `pageNumber`, counted from 1).
  [[nodiscard]] std::vector<PageWord> Recognize(const CFaxPage& page, int pageNumber);

 private:
  struct CEngine;

  IEventLog& log_;
  std::chrono::milliseconds pageTimeLimit_;
  std::unique_ptr<CEngine> engine_;    // none when no language could be loaded
  std::vector<unsigned char> pixels_;  // Tesseract's copy of a page, reused
};

}  // namespace kestrel
