// Joins the two parts of a capture when a call switched from audio to T.38
// after audio had already received pages: the T.38 part was written beside
// the capture and its pages go after audio's, each page copied as it was
// coded (its strips and its tags, BadFaxLines and CleanFaxData included),
// the page numbers counted afresh. The joined file is written under a
// temporary name and renamed into place, so a reader never sees half of it.
//
// Reads only files SpanDSP wrote for this call. Failures are Status
// (core/result.h), step "TIFF".
#pragma once

#include <string>

#include "core/result.h"

namespace kestrel {

// Appends the pages of `from` to `to`, then removes `from`.
[[nodiscard]] Status AppendFaxPages(const std::string& from, const std::string& to);

}  // namespace kestrel
