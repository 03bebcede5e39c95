// Renders lines of real text into a 1-bit fax page for the tests of the PDF's
// text layer: glyphs from a TrueType font (DejaVu Sans) rasterised by
// FreeType at the fax's fine resolution, so that a recogniser reads them as
// it reads a scanned letter. Deterministic for a given text.
#pragma once

#include <string>
#include <vector>

#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {

// A fine-resolution page (204 x 196 dots per inch) of `width` x `height`
// pixels with `lines` (ASCII) set in `points`-point type from the top left
// margin down. Fails the calling test when the font cannot be loaded.
tools::CMonoBitmap RenderTextPage(std::uint32_t width, std::uint32_t height, const std::vector<std::string>& lines,
                                  int points = 12);

}  // namespace kestrel::test
