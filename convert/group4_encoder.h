// EncodeGroup4: one decoded fax page as CCITT Group 4 (ITU-T T.6) data, as a
// PDF's CCITTFaxDecode filter reads it with K -1 and its other parameters
// left at their defaults (black decodes to 0, as DeviceGray shows it): rows
// from the top, no byte alignment, ended by the end-of-block code. The page's
// 1 bits are its black pixels. The coding is libtiff's (its CCITT Group 4
// codec, the one tiff2pdf passes through); the page only goes through memory.
// A failure is a Status holding an image error (image_error.h).
#pragma once

#include <string>

#include "core/result.h"

namespace kestrel {

class CFaxPage;

// The Group 4 data of `page` (not empty) in `out`, whose memory is reused
// from page to page. Fails with an image error (image_error.h) for an empty
// page, when libtiff refuses or its memory cannot be had; `out` is then empty.
[[nodiscard]] Status EncodeGroup4(const CFaxPage& page, std::string& out);

}  // namespace kestrel
