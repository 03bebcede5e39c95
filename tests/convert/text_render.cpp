#include "tests/convert/text_render.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

// From fonts-dejavu-core, which the desktop's tests need as well.
constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kDpiX = 204;
constexpr int kDpiY = 196;
constexpr int kMargin = 120;  // pixels, left and top
// Anti-aliased coverage from this level on counts as ink, as a scanner's
// threshold would have it.
constexpr unsigned char kInkLevel = 128;

}  // namespace

tools::CMonoBitmap RenderTextPage(std::uint32_t width, std::uint32_t height, const std::vector<std::string>& lines,
                                  int points) {
  tools::CMonoBitmap page(width, height);
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    ADD_FAILURE() << "FreeType did not start";
    return page;
  }
  if (FT_New_Face(library, kFontPath, 0, &face) != 0 || FT_Set_Char_Size(face, 0, points * 64, kDpiX, kDpiY) != 0) {
    ADD_FAILURE() << "cannot load " << kFontPath;
    FT_Done_FreeType(library);
    return page;
  }
  const int lineStep = static_cast<int>(face->size->metrics.height >> 6) * 3 / 2;
  int baseline = kMargin + static_cast<int>(face->size->metrics.ascender >> 6);
  for (const std::string& line : lines) {
    int penX = kMargin;
    for (unsigned char c : line) {
      if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) continue;
      const FT_GlyphSlot glyph = face->glyph;
      const FT_Bitmap& bitmap = glyph->bitmap;
      for (unsigned int row = 0; row < bitmap.rows; ++row)
        for (unsigned int col = 0; col < bitmap.width; ++col)
          if (bitmap.buffer[row * static_cast<unsigned>(bitmap.pitch) + col] >= kInkLevel)
            page.Set(static_cast<std::uint32_t>(penX + glyph->bitmap_left + static_cast<int>(col)),
                     static_cast<std::uint32_t>(baseline - glyph->bitmap_top + static_cast<int>(row)));
      penX += static_cast<int>(glyph->advance.x >> 6);
    }
    baseline += lineStep;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return page;
}

}  // namespace kestrel::test
