// The invisible text a searchable PDF lays over a page's image: each
// recognised word in text render mode 3 (neither filled nor stroked), on its
// line's baseline, as high as its line, and stretched across exactly its box,
// so that a viewer finds, selects and copies it where the eye sees it.
//
// The words are shown in Helvetica, which every PDF reader has, unembedded;
// as nothing is drawn, only its encoding matters: WinAnsiEncoding, one byte a
// character. Every glyph is declared kTextLayerGlyphWidth wide, so a word's
// width is known without the font's metrics. Word texts come from the
// recogniser and may hold any bytes; what the encoding cannot hold is left out.
// Pure functions: nothing here fails.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/page_word.h"

namespace kestrel {

// The font's character codes and each glyph's width in 1/1000 of the size.
inline constexpr int kTextLayerFirstChar = 32;
inline constexpr int kTextLayerLastChar = 255;
inline constexpr int kTextLayerGlyphWidth = 500;

// `utf8` in WinAnsiEncoding: ligatures are spelled out ("fi"), characters the
// encoding has no code for, control characters and bytes that are no valid
// UTF-8 are left out.
[[nodiscard]] std::string ToWinAnsi(std::string_view utf8);

// The content operators (BT ... ET) that show `words`, read from a page of
// `pixelWidth` x `pixelHeight`, over that page drawn `pointWidth` x
// `pointHeight` points large, in the font resource named `font` ("/F0").
// Empty when no word has a character to show.
[[nodiscard]] std::string InvisibleTextOperators(const std::vector<PageWord>& words, int pixelWidth, int pixelHeight,
                                                 double pointWidth, double pointHeight, std::string_view font);

}  // namespace kestrel
