// ConvertSffToImages: file names, the files it answers, the scaling
// arithmetic, the outputs as libpng, libjpeg and libtiff read them, the rows
// each record gives, and what happens to refused files and pages.
#include "convert/sff_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/dither.h"
#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/image_resize.h"
#include "core/event_log.h"
#include "tests/convert/image_readers.h"
#include "tests/convert/open_sff.h"
#include "tests/convert/page_render.h"
#include "tests/convert/sff_bytes.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

using test::CSffBytes;
using tools::CMonoBitmap;

constexpr const char* kFaxName = "08154711_07-12-2026-09-05-03";

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    ::closedir(d);
  }
  return names;
}

// The page as the conversion should write it: rows (doubled at normal
// resolution) as grey RGB, scaled to 1653 pixels when wider.
struct CExpected {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

CExpected ExpectedImage(const CMonoBitmap& page, bool doubled) {
  const int w = static_cast<int>(page.width);
  const int h = static_cast<int>(page.height) * (doubled ? 2 : 1);
  std::vector<std::uint8_t> full(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t v =
          page.Get(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(doubled ? y / 2 : y)) ? 0 : 255;
      std::memset(
          full.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 3,
          v, 3);
    }
  CExpected e;
  e.width = w;
  e.height = h;
  if (w > 1653) {
    const double factor = 1.0 / (static_cast<double>(w) / 1653);
    e.width = static_cast<int>(w * factor);
    e.height = static_cast<int>(h * factor);
  }
  e.rgb.resize(static_cast<std::size_t>(e.width) * static_cast<std::size_t>(e.height) * 3);
  EXPECT_TRUE(ResizePixels(full.data(), w, h, 3, e.rgb.data(), e.width, e.height));
  return e;
}

double BlackShare(const CMonoBitmap& page) {
  std::size_t black = 0;
  for (std::uint8_t b : page.bits) black += static_cast<std::size_t>(__builtin_popcount(b));
  return static_cast<double>(black) / (static_cast<double>(page.width) * page.height);
}

class ConversionTest : public ::testing::Test {
 protected:
  std::string Fax(const std::vector<CMonoBitmap>& images, bool fine) {
    std::vector<tools::SffMakePage> pages(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) pages[i].image = images[i];
    tools::SffMakeOptions options;
    options.fine = fine;
    return Write(tools::MakeSffFile(pages, options));
  }
  std::string Write(const std::string& bytes) {
    const std::string path = dir_.File(std::string(kFaxName) + ".sff");
    test::WriteFileBytes(path, bytes);
    return path;
  }
  std::string Base() const { return dir_.File(kFaxName); }
  std::vector<std::string> Events() const { return test::EventDescriptions(dir_.Path()); }

  static CMonoBitmap Letter(std::uint32_t seed, std::uint32_t lines, bool fine, std::uint32_t width = 1728) {
    CMonoBitmap page = test::RenderLetterPage(width, fine ? lines : 2 * lines, seed);
    return fine ? page : test::HalveRows(page);
  }

  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_F(ConversionTest, OnePageJpegIsNamedAfterTheFaxAndLeavesNoTemporaryFile) {
  const std::string sff = Fax({Letter(1, 1143, false)}, false);
  EXPECT_EQ(ConvertSffToImages(sff, ImageFormat::Jpg, log_).pageCount, 1);
  EXPECT_EQ(FilesIn(dir_.Path()),
            (std::set<std::string>{std::string(kFaxName) + ".sff", std::string(kFaxName) + ".jpg"}));
  const auto jpeg = test::ReadJpeg(Base() + ".jpg");
  ASSERT_TRUE(jpeg.ok);
  EXPECT_EQ(jpeg.width, 1653);
  EXPECT_EQ(jpeg.height, 2186);
  EXPECT_EQ(jpeg.channels, 3);
  // Quality 75 keeps the page: close to the scaled page on average, and no
  // block of it far off.
  const CExpected expected = ExpectedImage(Letter(1, 1143, false), true);
  ASSERT_EQ(expected.rgb.size(), jpeg.pixels.size());
  double total = 0;
  for (std::size_t i = 0; i < jpeg.pixels.size(); ++i) total += std::abs(int{jpeg.pixels[i]} - int{expected.rgb[i]});
  EXPECT_LT(total / static_cast<double>(jpeg.pixels.size()), 6.0);
}

TEST_F(ConversionTest, ThreePagesGiveNumberedFiles) {
  for (ImageFormat format : {ImageFormat::Jpg, ImageFormat::Png}) {
    const std::string sff = Fax({Letter(1, 300, true), Letter(2, 300, true), Letter(3, 300, true)}, true);
    ASSERT_EQ(ConvertSffToImages(sff, format, log_).pageCount, 3);
    const std::string ext = format == ImageFormat::Png ? ".png" : ".jpg";
    std::set<std::string> names{std::string(kFaxName) + ".sff"};
    for (int n = 1; n <= 3; ++n) {
      names.insert(std::string(kFaxName) + "_" + std::to_string(n) + ext);
      EXPECT_EQ(PageFilePath(sff, format, 3, n), Base() + "_" + std::to_string(n) + ext);
    }
    EXPECT_EQ(FilesIn(dir_.Path()), names);
    for (int n = 1; n <= 3; ++n) {
      const std::string path = Base() + "_" + std::to_string(n) + ext;
      const auto image = format == ImageFormat::Png ? test::ReadPng(path) : test::ReadJpeg(path);
      ASSERT_TRUE(image.ok) << path;
      EXPECT_EQ(image.width, 1653);
      EXPECT_EQ(image.height, 286);  // 300 x 1653 / 1728 = 286.98
      ::unlink(path.c_str());
    }
  }
}

TEST_F(ConversionTest, PngHoldsTheScaledPageExactly) {
  const CMonoBitmap page = Letter(7, 2200, true);
  ASSERT_EQ(ConvertSffToImages(Fax({page}, true), ImageFormat::Png, log_).pageCount, 1);
  const auto png = test::ReadPng(Base() + ".png");
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.width, 1653);
  EXPECT_EQ(png.height, 2104);
  EXPECT_EQ(png.bitDepth, 8);
  EXPECT_EQ(png.colourType, 2);  // RGB
  const CExpected expected = ExpectedImage(page, false);
  EXPECT_TRUE(png.pixels == expected.rgb);
  EXPECT_TRUE(Events().empty());
}

TEST_F(ConversionTest, TiffHoldsEveryPageAsOneBitGroup3) {
  const std::vector<CMonoBitmap> pages = {Letter(1, 1143, false), Letter(2, 1143, false), Letter(3, 1143, false)};
  ASSERT_EQ(ConvertSffToImages(Fax(pages, false), ImageFormat::Tiff, log_).pageCount, 3);
  EXPECT_EQ(FilesIn(dir_.Path()),
            (std::set<std::string>{std::string(kFaxName) + ".sff", std::string(kFaxName) + ".tif"}));
  const auto tiff = test::ReadTiffPages(Base() + ".tif");
  ASSERT_EQ(tiff.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const test::CTiffPage& p = tiff[i];
    EXPECT_EQ(p.width, 1653u);
    EXPECT_EQ(p.height, 2186u);
    EXPECT_EQ(p.compression, 3);  // CCITT Group 3
    EXPECT_EQ(p.bitsPerSample, 1);
    EXPECT_EQ(p.samplesPerPixel, 1);
    EXPECT_EQ(p.photometric, 0);  // min-is-white: 1 is black
    EXPECT_FLOAT_EQ(p.xResolution, 200.0f);
    EXPECT_FLOAT_EQ(p.yResolution, 200.0f);
    ASSERT_EQ(p.rows.size(), 207u * 2186u);
    // The page as dithered from its scaled image, bit for bit...
    const CExpected expected = ExpectedImage(pages[i], true);
    CTwoColourDither dither(expected.width);
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(expected.width)), packed(207);
    std::size_t differing = 0, black = 0;
    for (int y = 0; y < expected.height; ++y) {
      for (int x = 0; x < expected.width; ++x)
        gray[static_cast<std::size_t>(x)] =
            expected.rgb[(static_cast<std::size_t>(y) * 1653 + static_cast<std::size_t>(x)) * 3];
      dither.Row(gray.data(), packed.data());
      differing += static_cast<std::size_t>(
          std::memcmp(packed.data(), p.rows.data() + static_cast<std::size_t>(y) * 207, 207) != 0);
    }
    EXPECT_EQ(differing, 0u) << "page " << i + 1;
    // ...and as dark as the page that was sent.
    for (std::uint8_t b : p.rows) black += static_cast<std::size_t>(__builtin_popcount(b));
    const double share = static_cast<double>(black) / (1653.0 * 2186.0);
    EXPECT_NEAR(share, BlackShare(pages[i]), 0.01);
  }
  EXPECT_TRUE(Events().empty());
}

TEST_F(ConversionTest, ExistingTiffOfTheSameNameIsReplaced) {
  test::WriteFileBytes(Base() + ".tif", "an old file");
  ASSERT_EQ(ConvertSffToImages(Fax({Letter(1, 200, true)}, true), ImageFormat::Tiff, log_).pageCount, 1);
  EXPECT_EQ(test::ReadTiffPages(Base() + ".tif").size(), 1u);
}

TEST_F(ConversionTest, PagesAreScaledToTheWidthOfA4) {
  struct Case {
    std::uint32_t width, lines;
    bool fine;
    int outWidth, outHeight;
  };
  for (const Case& c :
       {Case{1728, 1143, false, 1653, 2186}, Case{1728, 2200, true, 1653, 2104}, Case{2048, 1143, false, 1652, 1845},
        Case{1600, 1000, true, 1600, 1000}, Case{1653, 100, true, 1653, 100}, Case{2432, 500, true, 1653, 339}}) {
    // Text lines only, to keep every run within what the codes can say.
    CMonoBitmap page(c.width, c.lines);
    for (std::uint32_t y = 10; y + 30 < c.lines; y += 40)
      test::DrawText(page, 20, static_cast<int>(y), "SCALE TEST 1234", 3, 3);
    test::FillRect(page, static_cast<int>(c.width) - 30, 0, 30, static_cast<int>(c.lines));
    ASSERT_EQ(ConvertSffToImages(Fax({page}, c.fine), ImageFormat::Jpg, log_).pageCount, 1);
    const auto jpeg = test::ReadJpeg(Base() + ".jpg");
    ASSERT_TRUE(jpeg.ok);
    EXPECT_EQ(jpeg.width, c.outWidth) << c.width << " x " << c.lines;
    EXPECT_EQ(jpeg.height, c.outHeight) << c.width << " x " << c.lines;
  }
}

TEST_F(ConversionTest, NotAnSffFileWritesNothing) {
  const std::string path = Write("%PDF-1.4 no fax here");
  EXPECT_EQ(ConvertSffToImages(path, ImageFormat::Jpg, log_).pageCount, -1);
  EXPECT_EQ(Events(), (std::vector<std::string>{test::LoggedForm("SFF file error Not a valid sff file.")}));
  EXPECT_EQ(FilesIn(dir_.Path()), (std::set<std::string>{std::string(kFaxName) + ".sff", "kestrel.log"}));
  EXPECT_EQ(ConvertSffToImages(Write(CSffBytes().DocumentHeader(7).End().Text()), ImageFormat::Tiff, log_).pageCount,
            -1);
  EXPECT_EQ(Events().back(), test::LoggedForm("SFF file error Don\xC2\xB4t know how to handle this Fileversion."));
}

TEST_F(ConversionTest, DocumentWithoutPagesAnswersZero) {
  EXPECT_EQ(ConvertSffToImages(Write(CSffBytes().DocumentHeader().End().Text()), ImageFormat::Png, log_).pageCount, 0);
  EXPECT_EQ(FilesIn(dir_.Path()), (std::set<std::string>{std::string(kFaxName) + ".sff"}));
  EXPECT_EQ(ConvertSffToImages(dir_.File("missing.sff"), ImageFormat::Png, log_).pageCount, 0);
  EXPECT_TRUE(Events().empty());
}

TEST_F(ConversionTest, RefusedPagesAreLoggedAndTheOthersConverted) {
  CSffBytes b;
  b.DocumentHeader().PageHeader(1, 1728, 2).Line(test::kWhiteLine1728).Add({255, 0});
  b.PageHeader(1, 0, 2).Add({218});
  b.PageHeader(1, 40968, 2).Add({218});
  b.PageHeader(1, 1728, 2).Add({218});
  b.PageHeader(1, 1728, 0).Add({255, 2, 'h', 'i'});  // a page without lines
  const std::string sff = Write(b.End().Text());
  ASSERT_EQ(ConvertSffToImages(sff, ImageFormat::Jpg, log_).pageCount, 5);
  EXPECT_TRUE(test::FileExists(Base() + "_1.jpg"));
  EXPECT_FALSE(test::FileExists(Base() + "_2.jpg"));
  EXPECT_FALSE(test::FileExists(Base() + "_3.jpg"));
  EXPECT_TRUE(test::FileExists(Base() + "_4.jpg"));
  EXPECT_FALSE(test::FileExists(Base() + "_5.jpg"));
  const std::vector<std::string> refused = {
      test::LoggedForm("Page 2 of the fax is not converted: a width of 0 pixels is not supported."),
      test::LoggedForm("Page 3 of the fax is not converted: a width of 40968 pixels is not supported."),
      test::LoggedForm("Page 5 of the fax is not converted: it has no lines.")};
  EXPECT_EQ(Events(), refused);

  // In one TIFF the converted pages follow each other without a gap.
  ASSERT_EQ(ConvertSffToImages(sff, ImageFormat::Tiff, log_).pageCount, 5);
  const auto tiff = test::ReadTiffPages(Base() + ".tif");
  ASSERT_EQ(tiff.size(), 2u);
  EXPECT_EQ(tiff[0].width, 1653u);
  EXPECT_EQ(tiff[1].width, 1653u);
  const std::string name = kFaxName;
  EXPECT_EQ(FilesIn(dir_.Path()),
            (std::set<std::string>{name + ".sff", name + "_1.jpg", name + "_4.jpg", name + ".tif", "kestrel.log"}));
}

TEST_F(ConversionTest, AnswerNamesTheFilesWrittenInPageOrder) {
  CSffBytes b;
  b.DocumentHeader().PageHeader(1, 1728, 1).Line(test::kWhiteLine1728);
  b.PageHeader(1, 0, 1).Add({218});  // refused: no width
  b.PageHeader(1, 1728, 1).Add({218});
  const std::string sff = Write(b.End().Text());
  struct Case {
    ImageFormat format;
    int pageCount;
    std::vector<std::string> files;
    int firstMissingPage;
  };
  for (const Case& c : {Case{ImageFormat::Jpg, 3, {Base() + "_1.jpg", Base() + "_3.jpg"}, 2},
                        Case{ImageFormat::Png, 3, {Base() + "_1.png", Base() + "_3.png"}, 2},
                        Case{ImageFormat::Tiff, 3, {Base() + ".tif"}, 0}, Case{ImageFormat::Sff, 0, {sff}, 0},
                        Case{ImageFormatFromNumber(7), 0, {}, 0}}) {
    const ConvertedFax fax = ConvertSffToImages(sff, c.format, log_);
    const int number = ImageFormatNumber(c.format);
    EXPECT_EQ(fax.pageCount, c.pageCount) << number;
    EXPECT_EQ(fax.files, c.files) << number;
    EXPECT_EQ(fax.firstMissingPage, c.firstMissingPage) << number;
  }
  EXPECT_TRUE(ConvertSffToImages(dir_.File("gone.sff"), ImageFormat::Sff, log_).files.empty());
}

TEST_F(ConversionTest, FileThatCannotBeWrittenIsMissingFromTheAnswer) {
  const std::string sff = Fax({Letter(1, 100, true), Letter(2, 100, true)}, true);
  // Folders in the way of the first page file and of the TIFF: no one can write them, not even root.
  ASSERT_EQ(::mkdir((Base() + "_1.jpg").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((Base() + ".tif").c_str(), 0755), 0);
  ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Jpg, log_);
  EXPECT_EQ(fax.pageCount, 2);
  EXPECT_EQ(fax.files, std::vector<std::string>{Base() + "_2.jpg"});
  EXPECT_EQ(fax.firstMissingPage, 1);
  EXPECT_TRUE(Events().empty());  // a destination that cannot be opened is not logged
  fax = ConvertSffToImages(sff, ImageFormat::Tiff, log_);
  EXPECT_EQ(fax.pageCount, 2);
  EXPECT_TRUE(fax.files.empty());
  const std::string text = test::LoggedForm("Can not open the TIF file: error on file open");
  EXPECT_EQ(Events(), (std::vector<std::string>{text, text}));
}

TEST_F(ConversionTest, WidthsOffTheByteGridKeepTheirLastPixels) {
  for (std::uint32_t width : {1001u, 1640u, 9u}) {  // 1640: 205 bytes, padded to 208
    CMonoBitmap page(width, 6);
    for (std::uint32_t y = 0; y < 6; ++y) page.Set(width - 1, y);
    page.Set(0, 2);
    ASSERT_EQ(ConvertSffToImages(Fax({page}, true), ImageFormat::Png, log_).pageCount, 1);
    const auto png = test::ReadPng(Base() + ".png");
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(png.width, static_cast<int>(width));
    ASSERT_EQ(png.height, 6);
    const auto at = [&](std::uint32_t x, std::uint32_t y) { return png.pixels[(y * width + x) * 3]; };
    for (std::uint32_t y = 0; y < 6; ++y) {
      EXPECT_EQ(at(width - 1, y), 0) << width;
      EXPECT_EQ(at(width - 2, y), 255) << width;
    }
    EXPECT_EQ(at(0, 2), 0);
    EXPECT_EQ(at(0, 3), 255);
  }
}

TEST_F(ConversionTest, OverlongPageIsCutAndLogged) {
  CSffBytes b;
  b.DocumentHeader().PageHeader(1, 1728, 0);
  for (int i = 0; i < 300; ++i) b.Add({253});  // 11100 white lines
  ASSERT_EQ(ConvertSffToImages(Write(b.End().Text()), ImageFormat::Jpg, log_).pageCount, 1);
  const auto jpeg = test::ReadJpeg(Base() + ".jpg");
  ASSERT_TRUE(jpeg.ok);
  EXPECT_EQ(jpeg.height, static_cast<int>(4854 * (1.0 / (1728.0 / 1653))));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{test::LoggedForm("Page 1 of the fax is too long and is cut after 4854 rows.")}));
}

// The rows each record gives, read from the decoded page.
class PageRowsTest : public ConversionTest {
 protected:
  // The page's rows top to bottom, each as its 216 bytes.
  std::vector<std::string> Rows(const std::string& sffBytes, int page = 1) {
    CSffFile sff = test::OpenSff(Write(sffBytes), log_);
    std::vector<std::uint8_t> row(RowBufferSize, 0);
    CFaxPage decoded;
    for (int p = 1; p <= page; ++p)
      if (!DecodeSffPage(sff, p, sff.VerticalResolution() == 0, row.data(), decoded, log_)) return {};
    std::vector<std::string> rows;
    for (int y = 0; y < decoded.Height(); ++y) rows.emplace_back(reinterpret_cast<const char*>(decoded.Row(y)), 216);
    return rows;
  }
  static std::string Pixels(std::initializer_list<int> black) {
    std::string row(216, '\0');
    for (int p : black)
      row[static_cast<std::size_t>(p / 8)] =
          static_cast<char>(row[static_cast<std::size_t>(p / 8)] | (0x80 >> (p % 8)));
    return row;
  }
  const std::string white_ = std::string(216, '\0');
  const std::vector<std::uint8_t> pixels10to12_ = {0x3C, 0x43, 0x05};
  // white 2, black make-up 64, no terminating code: fails after painting 2..65.
  const std::vector<std::uint8_t> failsAfter64_ = {0x0E, 0x3C, 0x00, 0x00, 0x00, 0x00};
};

TEST_F(PageRowsTest, NormalResolutionGivesEveryLineTwice) {
  const auto rows = Rows(CSffBytes()
                             .DocumentHeader()
                             .PageHeader(0, 1728, 3)
                             .Line(pixels10to12_)
                             .Add({219})
                             .Add({255, 3, 'x', 'y', 'z'})
                             .End()
                             .Text());
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], Pixels({10, 11, 12}));
  EXPECT_EQ(rows[1], Pixels({10, 11, 12}));
  for (std::size_t r = 2; r < 8; ++r) EXPECT_EQ(rows[r], white_);  // a white skip of 3: six rows
}

TEST_F(PageRowsTest, FailedLinesLeaveWhiteRowsAtTheBottom) {
  const auto rows = Rows(CSffBytes()
                             .DocumentHeader()
                             .PageHeader(0, 1728, 3)
                             .Line(failsAfter64_)
                             .Line(pixels10to12_)
                             .Line(failsAfter64_)
                             .End()
                             .Text());
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], Pixels({10, 11, 12}));
  EXPECT_EQ(rows[1], Pixels({10, 11, 12}));
  for (std::size_t r = 2; r < 6; ++r) EXPECT_EQ(rows[r], white_);
}

TEST_F(PageRowsTest, IllegalLineRepeatsThePreviousRow) {
  // After a decoded line, after a failed one (its pixels up to the fault),
  // and after a white skip.
  std::initializer_list<int> partial = {2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                        18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33,
                                        34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49,
                                        50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65};
  const auto rows = Rows(CSffBytes()
                             .DocumentHeader()
                             .PageHeader(1, 1728, 5)
                             .Line(pixels10to12_)
                             .Add({255, 0})
                             .Line(failsAfter64_)
                             .Add({255, 0})
                             .Add({217})
                             .Add({255, 0})
                             .End()
                             .Text());
  ASSERT_EQ(rows.size(), 6u);  // six lines, one of which gives no row
  EXPECT_EQ(rows[0], Pixels({10, 11, 12}));
  EXPECT_EQ(rows[1], Pixels({10, 11, 12}));
  EXPECT_EQ(rows[2], Pixels(partial));
  EXPECT_EQ(rows[3], white_);
  EXPECT_EQ(rows[4], white_);
  EXPECT_EQ(rows[5], white_);
}

TEST_F(PageRowsTest, IllegalLineFirstGivesAWhiteRow) {
  const auto rows =
      Rows(CSffBytes().DocumentHeader().PageHeader(1, 1728, 2).Add({255, 0}).Line(pixels10to12_).End().Text());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], white_);
  EXPECT_EQ(rows[1], Pixels({10, 11, 12}));
}

TEST_F(PageRowsTest, RowBufferCarriesOverToTheNextPage) {
  const auto rows = Rows(CSffBytes()
                             .DocumentHeader()
                             .PageHeader(1, 1728, 1)
                             .Line(pixels10to12_)
                             .PageHeader(1, 1728, 1)
                             .Add({255, 0})
                             .End()
                             .Text(),
                         2);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], Pixels({10, 11, 12}));
}

}  // namespace
}  // namespace kestrel
