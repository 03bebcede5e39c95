// Renders real-looking fax pages as 1-bit images for the conversion tests and
// the benchmark: a business letter with letterhead and logo, address block,
// body text, a table, a signature, a footer and scanner noise. Deterministic
// for a given seed.
#pragma once

#include <cstdint>
#include <string>

#include "tools/sff-make/sff_maker.h"

namespace kestrel::test {

// A letter page at fine resolution (1728 x 2286 is A4 at 200 x 196 dpi).
tools::CMonoBitmap RenderLetterPage(std::uint32_t width, std::uint32_t height, std::uint32_t seed);

// The same page as a normal-resolution scanner sees it: every second row.
tools::CMonoBitmap HalveRows(const tools::CMonoBitmap& fine);

// Draws `text` with the built-in 5 x 7 font, each font pixel sx x sy pixels.
void DrawText(tools::CMonoBitmap& image, int x, int y, const std::string& text, int sx, int sy, bool bold = false);
void FillRect(tools::CMonoBitmap& image, int x, int y, int w, int h);

}  // namespace kestrel::test
