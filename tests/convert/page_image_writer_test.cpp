// The image layer: error texts, the area-averaging resize, the encoders, and
// the page writers: pixels, sizes and failures of JPEG, PNG and TIFF pages.
#include "convert/page_image_writer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "convert/image_encoders.h"
#include "convert/image_error.h"
#include "convert/image_resize.h"
#include "core/event_log.h"
#include "tests/convert/image_readers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

// The image error number a writer answered, 0 for success.
int Code(const Status& written) { return written.Ok() ? 0 : written.Error().code; }
constexpr int kImageFileOpen = static_cast<int>(ImageError::kFileOpen);

class PageImageTest : public ::testing::Test {
 protected:
  std::vector<std::string> Events() const { return test::EventDescriptions(dir_.Path()); }
  // A page of `width` x `rows.size()` from its packed rows.
  static CFaxPage Page(std::uint32_t width, const std::vector<std::vector<std::uint8_t>>& rows) {
    CFaxPage page;
    EXPECT_TRUE(page.Reset(width, static_cast<std::uint32_t>(rows.size())));
    for (const auto& row : rows) page.AppendRow(row.data());
    return page;
  }
  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

// An RGB image in memory, handed to an encoder row by row.
class CMemoryRows final : public IImageRows {
 public:
  CMemoryRows(const std::vector<std::uint8_t>& pixels, int width) : pixels_(pixels), width_(width) {}
  const std::uint8_t* Row(int y) override {
    return pixels_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) * 3;
  }

 private:
  const std::vector<std::uint8_t>& pixels_;
  int width_;
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

TEST_F(PageImageTest, PageIsWrittenBlackOnWhite) {
  const CFaxPage page = Page(16, {{0x80, 0x01}, {0xFF, 0x00}});
  EXPECT_EQ(page.ResolutionX(), 200);
  EXPECT_EQ(page.ResolutionY(), 200);
  // Written as 24 bits, red = green = blue.
  ASSERT_EQ(Code(WritePageImage(page, ImageFormat::Png, dir_.File("p.png"), log_)), 0);
  const auto png = test::ReadPng(dir_.File("p.png"));
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, 16);
  ASSERT_EQ(png.height, 2);
  EXPECT_EQ(png.colourType, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(png.pixels.begin(), png.pixels.begin() + 6),
            (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255}));
  const auto grey = [&](int x, int y) { return png.pixels[static_cast<std::size_t>(y * 16 + x) * 3]; };
  EXPECT_EQ(grey(0, 0), 0);
  EXPECT_EQ(grey(1, 0), 255);
  EXPECT_EQ(grey(15, 0), 0);
  EXPECT_EQ(grey(7, 1), 0);
  EXPECT_EQ(grey(8, 1), 255);
}

TEST_F(PageImageTest, RowsBeyondTheHeightAreDroppedAndPixelsBeyondTheWidthCleared) {
  CFaxPage page;
  ASSERT_TRUE(page.Reset(12, 3));
  const std::uint8_t black[] = {0xFF, 0xFF};
  page.AppendWhiteRows(1);
  page.AppendRow(black, 5);
  ASSERT_EQ(page.Height(), 3);
  EXPECT_EQ(page.Row(0)[0], 0);
  EXPECT_EQ(page.Row(1)[1], 0xF0);  // pixels 12 to 15 are not part of the page
  EXPECT_EQ(page.Row(2)[0], 0xFF);
}

TEST_F(PageImageTest, PageTooShortToScaleKeepsItsSize) {
  const CImageSize scaled = A4ScaledSize(2048, 2286, 200);
  EXPECT_EQ(scaled.width, 1652);
  EXPECT_EQ(scaled.height, 1845);
  const CImageSize kept = A4ScaledSize(2048, 1, 200);  // 0.8 rows
  EXPECT_EQ(kept.width, 2048);
  EXPECT_EQ(kept.height, 1);
}

TEST_F(PageImageTest, WriteFailuresAnswerTheirCode) {
  // A destination that cannot be opened is not logged.
  const CFaxPage page = Page(8, {{0x81}, {0x18}});
  EXPECT_EQ(Code(WritePageImage(page, ImageFormat::Png, dir_.Path(), log_)), 2);
  EXPECT_TRUE(Events().empty());
  // Nothing to write is.
  EXPECT_EQ(Code(WritePageImage(CFaxPage(), ImageFormat::Png, dir_.File("e.png"), log_)), 5);
  EXPECT_FALSE(test::FileExists(dir_.File("e.png")));
  EXPECT_EQ(Events(), (std::vector<std::string>{test::LoggedForm("bad user param")}));
}

TEST_F(PageImageTest, JpegAndPngEncodersCarryTheImage) {
  std::vector<std::uint8_t> rgb(64 * 32 * 3);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = rgb.data() + (y * 64 + x) * 3;
      p[0] = static_cast<std::uint8_t>(x * 4);
      p[1] = static_cast<std::uint8_t>(y * 8);
      p[2] = 128;
    }
  using Encoder = Status (*)(std::FILE*, IImageRows&, int, int, int, int, int);
  for (const auto& [name, encode] :
       {std::pair<const char*, Encoder>{"a.png", WritePngFile}, {"a.jpg", WriteJpegFile}}) {
    std::FILE* file = std::fopen(dir_.File(name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    CMemoryRows rows(rgb, 64);
    EXPECT_EQ(Code(encode(file, rows, 64, 32, 3, 200, 200)), 0);
    ASSERT_EQ(std::fclose(file), 0);
  }
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

TEST_F(PageImageTest, AppendPageToTiffLogsWhatFails) {
  const CFaxPage page = Page(32, {{0, 0, 0, 0}, {0xF0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}});
  EXPECT_EQ(Code(AppendPageToTiff(page, dir_.File("no/such/folder.tif"), 0, log_)), kImageFileOpen);
  EXPECT_EQ(Events().back(), test::LoggedForm("Can not open the TIF file: error on file open"));
  // Appending to a file that is no TIFF.
  test::WriteFileBytes(dir_.File("b.tif"), "not a tiff");
  EXPECT_EQ(Code(AppendPageToTiff(page, dir_.File("b.tif"), 1, log_)), kImageFileOpen);
  EXPECT_EQ(Events().back(), test::LoggedForm("Can not open the TIF file: error on file open"));
  // A good page, then a second appended.
  EXPECT_EQ(Code(AppendPageToTiff(page, dir_.File("c.tif"), 0, log_)), 0);
  EXPECT_EQ(Code(AppendPageToTiff(Page(32, {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}),
                                  dir_.File("c.tif"), 1, log_)),
            0);
  const auto pages = test::ReadTiffPages(dir_.File("c.tif"));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1].height, 5u);
  EXPECT_EQ(pages[0].rows[4], 0xF0);  // 1 is black
  EXPECT_EQ(pages[0].rows[7], 0x01);
  EXPECT_EQ(Events().size(), 2u);
}

}  // namespace
}  // namespace kestrel
