#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(TextEncoding, Cp1252RoundTripsItsPrintableRange) {
  std::string all;
  for (int b = 0x20; b < 0x100; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80\xfc\xb4"), "\xE2\x82\xAC\xC3\xBC\xC2\xB4");
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?") << "a character 1252 cannot hold";
}

TEST(TextEncoding, Utf16HandlesSurrogatesAndMalformedInput) {
  std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E
  EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le("a\xC3\xBC" + clef)), "a\xC3\xBC" + clef);
  EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xD8", 2)), "\xEF\xBF\xBD") << "lone surrogate";
  EXPECT_EQ(Utf16LeToUtf8(std::string("a\x00z", 3)), "a") << "odd trailing byte dropped";
  EXPECT_EQ(Utf8ToUtf16Le("\xC3"), std::string("\xFD\xFF", 2)) << "truncated UTF-8";
}

TEST(TextEncoding, Latin1OnlyWhenEveryCharacterFits) {
  EXPECT_EQ(Utf8ToLatin1("M\xC3\xBCller").value_or(""), "M\xFCller");
  EXPECT_FALSE(Utf8ToLatin1("\xE2\x82\xAC"));
  EXPECT_FALSE(Utf8ToLatin1("\xC3")) << "invalid UTF-8 is not silently mangled";
  EXPECT_FALSE(Utf8ToLatin1("\xC0\xAF")) << "overlong form";
}

}  // namespace
}  // namespace kestrel
