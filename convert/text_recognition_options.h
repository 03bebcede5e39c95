// TextRecognitionOptions: whether a fax PDF gets an invisible text layer, in
// which languages its pages are read, and how long one page may take. The
// service fills the languages from its settings (OcrLanguages); empty means
// no recognition, the PDF then holds the page images only.
#pragma once

#include <chrono>
#include <string>

namespace kestrel {

// The longest one page's recognition may run before the page goes into the
// PDF without text. A dense letter page takes a few seconds; the bound keeps
// a page of noise from holding up the forwarding of every later fax.
inline constexpr std::chrono::milliseconds kPageRecognitionTimeLimit{20000};

struct TextRecognitionOptions {
  // Tesseract's language names joined by "+", the first one preferred
  // ("deu+eng"); empty: no text layer.
  std::string languages;
  std::chrono::milliseconds pageTimeLimit = kPageRecognitionTimeLimit;
};

}  // namespace kestrel
