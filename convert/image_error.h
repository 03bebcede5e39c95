// The failures of Kestrel's image writers: the number of each kind of fault
// and its text, in one table (image_error.cpp). The numbering is the one the
// service has always logged, so existing logs read the same. A writer fails
// with a Failure (core/result.h) whose code is the number and whose text is
// ImageErrorText of it; nothing throws.
#pragma once

#include <string>

#include "core/result.h"

namespace kestrel {

enum class ImageError : int {
  kOutOfMemory = 1,
  kFileOpen = 2,
  kFileWrite = 4,
  kBadParam = 5,
  kBadJpg = 9,
  kPngInternal = 16,
  kTiffInternal = 19,
};

// The text for `code`; "Error #<code>!" for a code without its own text.
[[nodiscard]] std::string ImageErrorText(unsigned code);

// The failure of `error` at `step`.
[[nodiscard]] Failure ImageFailure(ImageError error, std::string step = {});

}  // namespace kestrel
