// PageWord: one word read from a fax page, as the recogniser hands it to the
// PDF's text layer. Its text is the recogniser's and may hold any bytes.
#pragma once

#include <string>

namespace kestrel {

// One recognised word, in the pixels of the page it was read from (0, 0 top
// left): its box, and the baseline and height of the line it stands on.
struct PageWord {
  std::string text;  // UTF-8 as Tesseract gives it; may hold any character
  int left = 0;
  int top = 0;
  int right = 0;   // exclusive
  int bottom = 0;  // exclusive
  int baseline = 0;
  int lineHeight = 0;
  bool lineEnd = false;  // the last word of its line
};

}  // namespace kestrel
