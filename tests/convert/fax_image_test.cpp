// The image layer: error texts, bitmap reading, the area-averaging resize,
// the BMP writer, and AppendPageToTiff's failures.
#include "convert/fax_image.h"

#include <gtest/gtest.h>

#include <cstring>

#include "convert/bmp_page_file.h"
#include "convert/byte_io.h"
#include "convert/bmp_reader.h"
#include "convert/image_error.h"
#include "convert/image_resize.h"
#include "convert/tiff_pages.h"
#include "core/event_log.h"
#include "tests/convert/image_readers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

std::uint32_t Le32(const std::string& s, std::size_t at) { return kestrel::Le32(reinterpret_cast<const std::uint8_t*>(s.data()) + at); }

class FaxImageTest : public ::testing::Test {
 protected:
  std::vector<std::string> Events() const { return test::EventDescriptions(dir_.Path()); }
  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST(ImageErrorText, KnownCodesHaveTheirTextsOthersTheirNumber) {
  EXPECT_EQ(ImageErrorText(0), "no err");
  EXPECT_EQ(ImageErrorText(2), "error on file open");
  EXPECT_EQ(ImageErrorText(6), "bad BMP file");
  EXPECT_EQ(ImageErrorText(16), "internal PNG lib behavior - contact smaller animals s.w.");
  EXPECT_EQ(ImageErrorText(31), "not enough room in the output palette to store the colors from this image");
  EXPECT_EQ(ImageErrorText(36), "LZW de/compression is not permitted");
  EXPECT_EQ(ImageErrorText(8), "Error #8!");
  EXPECT_EQ(ImageErrorText(12), "Error #12!");
  EXPECT_EQ(ImageErrorText(33), "Error #33!");
  EXPECT_EQ(ImageErrorText(37), "Error #37!");
  EXPECT_EQ(ImageErrorText(4000000000u), "Error #4000000000!");
}

TEST(ResizePixels, AveragesTheAreaEachOutputPixelCovers) {
  // Three grey pixels 0, 255, 255 into two: [0, 1.5) and [1.5, 3).
  const std::uint8_t src[] = {0, 0, 0, 255, 255, 255, 255, 255, 255};
  std::uint8_t dst[6];
  ASSERT_TRUE(ResizePixels(src, 3, 1, 3, dst, 2, 1));
  EXPECT_EQ(dst[0], 85);
  EXPECT_EQ(dst[3], 255);
  EXPECT_EQ(dst[1], dst[0]);
  // Two rows into one: the mean.
  const std::uint8_t rows[] = {10, 20, 30, 50, 60, 70};
  std::uint8_t one[3];
  ASSERT_TRUE(ResizePixels(rows, 1, 2, 3, one, 1, 1));
  EXPECT_EQ(one[0], 30);
  EXPECT_EQ(one[1], 40);
  EXPECT_EQ(one[2], 50);
}

TEST(ResizePixels, ColoursStaySeparateAndFlatAreasFlat) {
  std::vector<std::uint8_t> red(64 * 48 * 3);
  for (std::size_t i = 0; i < red.size(); i += 3) {
    red[i] = 200;
    red[i + 1] = 10;
    red[i + 2] = 99;
  }
  std::vector<std::uint8_t> out(37 * 29 * 3);
  ASSERT_TRUE(ResizePixels(red.data(), 64, 48, 3, out.data(), 37, 29));
  for (std::size_t i = 0; i < out.size(); i += 3) {
    ASSERT_EQ(out[i], 200);
    ASSERT_EQ(out[i + 1], 10);
    ASSERT_EQ(out[i + 2], 99);
  }
  // Enlarging works as well: every output pixel lies within one or two inputs.
  std::vector<std::uint8_t> big(100 * 90 * 3);
  ASSERT_TRUE(ResizePixels(red.data(), 64, 48, 3, big.data(), 100, 90));
  EXPECT_EQ(big[0], 200);
  EXPECT_EQ(big[big.size() - 1], 99);
  EXPECT_FALSE(ResizePixels(red.data(), 64, 48, 3, out.data(), 0, 29));
  EXPECT_FALSE(ResizePixels(red.data(), 64, 48, 2, out.data(), 37, 29));
}

TEST(ResizePixels, GreyPlaneScalesLikeThreeEqualChannels) {
  std::vector<std::uint8_t> grey(173 * 61), rgb(173 * 61 * 3);
  std::uint32_t state = 1;
  for (std::size_t i = 0; i < grey.size(); ++i) {
    state = state * 1103515245u + 12345u;
    grey[i] = static_cast<std::uint8_t>((state >> 16) & 0xFF);
    std::memset(&rgb[i * 3], grey[i], 3);
  }
  for (auto [w, h] : {std::pair{131, 47}, std::pair{60, 20}, std::pair{200, 80}}) {
    std::vector<std::uint8_t> a(static_cast<std::size_t>(w * h)), b(static_cast<std::size_t>(w * h * 3));
    ASSERT_TRUE(ResizePixels(grey.data(), 173, 61, 1, a.data(), w, h));
    ASSERT_TRUE(ResizePixels(rgb.data(), 173, 61, 3, b.data(), w, h));
    for (std::size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(a[i], b[i * 3]) << w << " x " << h << " at " << i;
      ASSERT_EQ(a[i], b[i * 3 + 2]);
    }
  }
}

TEST_F(FaxImageTest, PageBitmapLoadsAsBlackOnWhite) {
  CBmpPageFile bmp;
  bmp.WriteHeader(dir_.File("p.bmp"), 16, 2);
  const std::uint8_t top[] = {0x80, 0x01}, bottom[] = {0xFF, 0x00};
  bmp.WriteRow(top);
  bmp.WriteRow(bottom);
  ASSERT_TRUE(bmp.Close());
  CFaxImage image(log_);
  ASSERT_EQ(image.Load(dir_.File("p.bmp")), 0);
  ASSERT_EQ(image.Width(), 16);
  ASSERT_EQ(image.Height(), 2);
  EXPECT_EQ(image.ResolutionX(), 200);
  EXPECT_EQ(image.ResolutionY(), 200);
  ASSERT_EQ(image.Channels(), 1);  // a black-and-white palette: kept as grey
  const std::uint8_t* p = image.Pixels();
  EXPECT_EQ(p[0], 0);        // (0, 0) black
  EXPECT_EQ(p[1], 255);      // (1, 0) white
  EXPECT_EQ(p[15], 0);       // (15, 0) black
  EXPECT_EQ(p[16 + 7], 0);   // (7, 1) black
  EXPECT_EQ(p[16 + 8], 255);
  // Written as 24 bits all the same.
  ASSERT_EQ(image.Save(dir_.File("p.png"), ImageFileType::Png), 0);
  const auto png = test::ReadPng(dir_.File("p.png"));
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.colourType, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(png.pixels.begin(), png.pixels.begin() + 6), (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255}));
}

TEST_F(FaxImageTest, BmpRoundTripKeepsEveryPixelAndWritesTheResolution) {
  std::vector<std::uint8_t> rgb(5 * 3 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
  CFaxImage image(log_);
  ASSERT_TRUE(image.Assign(5, 3, 3, rgb.data()));
  ASSERT_EQ(image.Save(dir_.File("c.bmp"), ImageFileType::Bmp), 0);
  const std::string file = test::ReadFileBytes(dir_.File("c.bmp"));
  ASSERT_EQ(file.size(), 54u + 16u * 3u);  // 15 bytes a row, padded to 16
  EXPECT_EQ(Le32(file, 2), file.size());
  EXPECT_EQ(Le32(file, 10), 54u);
  EXPECT_EQ(Le32(file, 18), 5u);
  EXPECT_EQ(Le32(file, 22), 3u);
  EXPECT_EQ(Le32(file, 28) & 0xFFFF, 24u);
  EXPECT_EQ(Le32(file, 38), 7800u);  // 78 pixels per centimetre: 200 dots per inch
  EXPECT_EQ(Le32(file, 42), 7800u);
  // Bottom-up, blue first.
  EXPECT_EQ(static_cast<unsigned char>(file[54]), rgb[2 * 15 + 2]);
  EXPECT_EQ(static_cast<unsigned char>(file[56]), rgb[2 * 15 + 0]);
  CFaxImage back(log_);
  ASSERT_EQ(back.Load(dir_.File("c.bmp")), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(back.Pixels(), back.Pixels() + rgb.size()), rgb);
  EXPECT_TRUE(Events().empty());
}

TEST_F(FaxImageTest, ColourRowsReadAsTheirLuminance) {
  const int width = 37;  // two blocks of 16 and a tail
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * 3 * 3);
  std::uint32_t state = 7;
  for (auto& v : rgb) {
    state = state * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(state >> 23);
  }
  CFaxImage image(log_);
  ASSERT_TRUE(image.Assign(width, 3, 3, rgb.data()));
  ASSERT_EQ(image.Save(dir_.File("colour.bmp"), ImageFileType::Bmp), 0);
  CBmpReader reader;
  ASSERT_EQ(reader.Open(dir_.File("colour.bmp")), 0);
  EXPECT_FALSE(reader.IsGray());
  std::vector<std::uint8_t> gray(static_cast<std::size_t>(width));
  for (int y = 0; y < 3; ++y) {
    ASSERT_EQ(reader.ReadRowGray(y, gray.data()), 0);
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)) * 3;
      ASSERT_EQ(gray[static_cast<std::size_t>(x)], (77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8) << x << ", " << y;
    }
  }
}

TEST_F(FaxImageTest, TopDownAndPaletteBitmapsAreRead) {
  // 2 x 2, 8 bits with a palette, stored top-down (negative height).
  std::string bmp(54 + 3 * 4 + 2 * 4, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  const auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(10, 54 + 12);
  put(14, 40);
  put(18, 2);
  put(22, static_cast<std::uint32_t>(-2));
  put(26, 1 | (8 << 16));
  put(46, 3);
  put(54, 0x000000FF);  // blue
  put(58, 0x0000FF00);  // green
  put(62, 0x00FF0000);  // red
  bmp[66] = 2;
  bmp[67] = 1;
  bmp[70] = 0;
  bmp[71] = 7;  // beyond the palette: black
  test::WriteFileBytes(dir_.File("t.bmp"), bmp);
  CFaxImage image(log_);
  ASSERT_EQ(image.Load(dir_.File("t.bmp")), 0);
  const std::uint8_t* p = image.Pixels();
  EXPECT_EQ(std::vector<std::uint8_t>(p, p + 12), (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0}));
}

TEST_F(FaxImageTest, BrokenBitmapsAreLoggedMissingOnesNot) {
  CFaxImage image(log_);
  EXPECT_EQ(image.Load(dir_.File("missing.bmp")), 2);
  EXPECT_TRUE(Events().empty());

  test::WriteFileBytes(dir_.File("junk.bmp"), "BM this is not really a bitmap at all, is it? no.....");
  EXPECT_EQ(image.Load(dir_.File("junk.bmp")), 6);
  // A header that promises more rows than the file holds.
  CBmpPageFile bmp;
  bmp.WriteHeader(dir_.File("short.bmp"), 64, 100);
  ASSERT_TRUE(bmp.Close());
  std::string bytes = test::ReadFileBytes(dir_.File("short.bmp"));
  test::WriteFileBytes(dir_.File("short.bmp"), bytes.substr(0, bytes.size() - 1));
  EXPECT_EQ(image.Load(dir_.File("short.bmp")), 6);
  EXPECT_EQ(Events(), (std::vector<std::string>{test::LoggedForm("bad BMP file"), test::LoggedForm("bad BMP file")}));
  EXPECT_EQ(image.Width(), 0);  // nothing was taken over
}

TEST_F(FaxImageTest, SaveFailuresAnswerTheirCode) {
  CFaxImage image(log_);
  // A destination that cannot be opened is not logged.
  const std::uint8_t grey[12] = {};
  ASSERT_TRUE(image.Assign(2, 2, 3, grey));
  EXPECT_EQ(image.Save(dir_.Path(), ImageFileType::Png), 2);
  EXPECT_TRUE(Events().empty());
  // Nothing to write is.
  CFaxImage empty(log_);
  EXPECT_EQ(empty.Save(dir_.File("e.png"), ImageFileType::Png), 5);
  EXPECT_FALSE(test::FileExists(dir_.File("e.png")));
  EXPECT_EQ(Events(), (std::vector<std::string>{test::LoggedForm("bad user param")}));
  EXPECT_FALSE(empty.Resize(10, 10));
}

TEST_F(FaxImageTest, JpegAndPngCarryTheImage) {
  std::vector<std::uint8_t> rgb(64 * 32 * 3);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = rgb.data() + (y * 64 + x) * 3;
      p[0] = static_cast<std::uint8_t>(x * 4);
      p[1] = static_cast<std::uint8_t>(y * 8);
      p[2] = 128;
    }
  CFaxImage image(log_);
  ASSERT_TRUE(image.Assign(64, 32, 3, rgb.data()));
  ASSERT_EQ(image.Save(dir_.File("a.png"), ImageFileType::Png), 0);
  ASSERT_EQ(image.Save(dir_.File("a.jpg"), ImageFileType::Jpeg), 0);
  const auto png = test::ReadPng(dir_.File("a.png"));
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.pixels, rgb);
  const auto jpeg = test::ReadJpeg(dir_.File("a.jpg"));
  ASSERT_TRUE(jpeg.ok);
  ASSERT_EQ(jpeg.pixels.size(), rgb.size());
  double diff = 0;
  for (std::size_t i = 0; i < rgb.size(); ++i) diff += std::abs(int{jpeg.pixels[i]} - int{rgb[i]});
  EXPECT_LT(diff / static_cast<double>(rgb.size()), 4.0);
}

TEST_F(FaxImageTest, AppendPageToTiffLogsWhatFails) {
  EXPECT_EQ(AppendPageToTiff(dir_.File("a.tif"), dir_.File("missing.bmp"), 0, log_), 1);
  EXPECT_EQ(Events().back(), test::LoggedForm("An error ocours the conversion error on file open"));
  CBmpPageFile bmp;
  bmp.WriteHeader(dir_.File("page.bmp"), 32, 4);
  ASSERT_TRUE(bmp.Close());
  EXPECT_EQ(AppendPageToTiff(dir_.File("no/such/folder.tif"), dir_.File("page.bmp"), 0, log_), 1);
  EXPECT_EQ(Events().back(), test::LoggedForm("Can not open the TIF file: error on file open"));
  EXPECT_FALSE(test::FileExists(dir_.File("page.bmp")));  // the page file goes either way
  // Appending to a file that is no TIFF.
  test::WriteFileBytes(dir_.File("b.tif"), "not a tiff");
  bmp.WriteHeader(dir_.File("page.bmp"), 32, 4);
  ASSERT_TRUE(bmp.Close());
  EXPECT_EQ(AppendPageToTiff(dir_.File("b.tif"), dir_.File("page.bmp"), 1, log_), 1);
  EXPECT_EQ(Events().back(), test::LoggedForm("Can not open the TIF file: error on file open"));
  // A good page, then a second appended.
  for (int i = 0; i < 2; ++i) {
    bmp.WriteHeader(dir_.File("page.bmp"), 32, 4 + i);
    ASSERT_TRUE(bmp.Close());
    EXPECT_EQ(AppendPageToTiff(dir_.File("c.tif"), dir_.File("page.bmp"), i, log_), 0);
  }
  const auto pages = test::ReadTiffPages(dir_.File("c.tif"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1].height, 5u);
}

}  // namespace
}  // namespace kestrel
