// The error codes of Kestrel's image layer and their texts. The numbering is
// the one the service has always logged, so existing logs read the same.
#pragma once

#include <string>

namespace kestrel {

enum ImageError : int {
  kImageOk = 0,
  kImageOutOfMemory = 1,
  kImageFileOpen = 2,
  kImageFileWrite = 4,
  kImageBadParam = 5,
  kImageBadJpg = 9,
  kImagePngInternal = 16,
  kImageMisc = 17,
  kImageTiffInternal = 19,
  kImageBadTiff = 20,
};

// The text for `code`; "Error #<code>!" for a code without its own text.
std::string ImageErrorText(unsigned code);

}  // namespace kestrel
