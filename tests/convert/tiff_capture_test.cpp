// TIFF captures, as an audio line's receiver writes them: every coding and
// resolution decodes pel for pel into the page model, and the converter
// writes the mailed formats from a capture (the PDF checked pel for pel
// through poppler, the PNG pages by libpng, the SFF file by the SFF reader);
// the receiver's note on lines it could not repair is read per page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tiffio.h>

#include "convert/fax_file_names.h"
#include "convert/sff_converter.h"
#include "convert/sff_file.h"
#include "convert/tiff_capture.h"
#include "core/event_log.h"
#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

class TiffCaptureTest : public ::testing::Test {
 protected:
  // Rows of `page` that differ from `sent`, each sent row standing `times` times.
  static std::size_t DifferingRows(const CFaxPage& page, const test::FaxTiffPage& sent, unsigned times) {
    const std::size_t stride = test::kFaxTiffWidth / 8;
    std::size_t differing = page.Height() == static_cast<int>(sent.height * times) ? 0 : 1;
    for (int y = 0; y < page.Height() && differing == 0; ++y)
      differing += std::memcmp(page.Row(y), sent.rows.data() + (y / times) * stride, stride) != 0;
    return differing;
  }

  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_F(TiffCaptureTest, EveryCodingAndResolutionDecodesExactly) {
  struct Case {
    test::FaxTiffCoding coding;
    bool fine;
  } cases[] = {{test::FaxTiffCoding::kGroup3OneD, false},
               {test::FaxTiffCoding::kGroup3TwoD, true},
               {test::FaxTiffCoding::kGroup4, false},
               {test::FaxTiffCoding::kGroup4, true}};
  for (const Case& c : cases) {
    const std::vector<test::FaxTiffPage> sent = {test::BlockPage(300, 5, c.fine), test::BlockPage(200, 6, c.fine, 4)};
    const std::string path = dir_.File("capture.tif");
    ASSERT_TRUE(test::WriteFaxTiff(path, sent, c.coding));
    auto capture = CTiffCapture::Open(path);
    ASSERT_TRUE(capture) << capture.Describe();
    ASSERT_EQ(capture->PageCount(), 2);
    CFaxPage page;
    for (int n = 1; n <= 2; ++n) {
      const std::string what = "coding " + std::to_string(static_cast<int>(c.coding)) + " page " + std::to_string(n);
      EXPECT_EQ(capture->PageFine(n), c.fine) << what;
      ASSERT_TRUE(capture->DecodePage(n, false, page, log_)) << what;
      EXPECT_EQ(DifferingRows(page, sent[n - 1], 1), 0u) << what;
      ASSERT_TRUE(capture->DecodePage(n, true, page, log_)) << what;
      EXPECT_EQ(DifferingRows(page, sent[n - 1], c.fine ? 1 : 2), 0u) << what << " as image rows";
    }
  }
}

TEST_F(TiffCaptureTest, CaptureConvertsToPdfAndPng) {
  const std::vector<test::FaxTiffPage> sent = {test::BlockPage(400, 7, true), test::BlockPage(300, 8, false)};
  const std::string capture = dir_.File("0301234_08-12-2026-10-00-00.tif");
  ASSERT_TRUE(test::WriteFaxTiff(capture, sent, test::FaxTiffCoding::kGroup4));

  const ConvertedFax pdf = ConvertSffToImages(capture, ImageFormat::Pdf, log_);
  EXPECT_EQ(pdf.pageCount, 2);
  ASSERT_EQ(pdf.files, std::vector<std::string>{FaxFilePath(capture, ImageFormat::Pdf)});
  ASSERT_EQ(test::RunCommand("pdfimages '" + pdf.files[0] + "' '" + dir_.File("image") + "' 2>&1").out, "");
  for (int n = 0; n < 2; ++n) {
    const tools::CMonoBitmap image =
        tools::ReadPbm(test::ReadFileBytes(dir_.File("image-00" + std::to_string(n) + ".pbm")));
    ASSERT_EQ(image.height, sent[n].height) << "page " << n + 1;
    std::size_t differing = 0;
    for (std::uint32_t y = 0; y < image.height; ++y)
      differing += std::memcmp(image.Row(y), sent[n].rows.data() + y * (test::kFaxTiffWidth / 8), image.width / 8) != 0;
    EXPECT_EQ(differing, 0u) << "page " << n + 1;
  }

  const ConvertedFax png = ConvertSffToImages(capture, ImageFormat::Png, log_);
  EXPECT_EQ(png.pageCount, 2);
  ASSERT_EQ(png.files.size(), 2u);
  for (const std::string& file : png.files) {
    const test::CDecodedImage image = test::ReadPng(file);
    EXPECT_TRUE(image.ok) << file;
    EXPECT_EQ(image.width, 1653) << file;  // A4 at 200 dots per inch
  }

  const ConvertedFax tiff = ConvertSffToImages(capture, ImageFormat::Tiff, log_);
  EXPECT_EQ(tiff.pageCount, 2);
  EXPECT_EQ(tiff.files, std::vector<std::string>{capture});
  EXPECT_EQ(test::ReadTiffPages(capture).size(), 2u);
}

TEST_F(TiffCaptureTest, CaptureWrittenAsSffReadsBackExact) {
  std::vector<test::FaxTiffPage> sent = {test::BlockPage(300, 9, true), test::BlockPage(200, 10, false, 4)};
  std::fill(sent[0].rows.begin() + 100 * (test::kFaxTiffWidth / 8),
            sent[0].rows.begin() + 160 * (test::kFaxTiffWidth / 8),
            0);  // 60 white rows: two white-skip records
  const std::string capture = dir_.File("capture.tif");
  ASSERT_TRUE(test::WriteFaxTiff(capture, sent, test::FaxTiffCoding::kGroup3OneD));

  const ConvertedFax fax = ConvertSffToImages(capture, ImageFormat::Sff, log_);
  EXPECT_EQ(fax.pageCount, 2);
  ASSERT_EQ(fax.files, std::vector<std::string>{dir_.File("capture.sff")});
  auto sff = CSffFile::Open(fax.files[0], log_);
  ASSERT_TRUE(sff) << sff.Describe();
  ASSERT_EQ(sff->PageCount(), 2);
  EXPECT_FALSE(sff->EndsWithinPage());
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  CFaxPage page;
  for (int n = 1; n <= 2; ++n) {
    EXPECT_EQ(sff->PageVerticalResolution(n), n == 1 ? 1 : 0) << "page " << n;
    ASSERT_TRUE(DecodeSffPage(*sff, n, false, row.data(), page, log_)) << "page " << n;
    EXPECT_EQ(DifferingRows(page, sent[n - 1], 1), 0u) << "page " << n;
  }
}

TEST_F(TiffCaptureTest, PagesNotedWithUnrepairedLinesAreAnsweredWhateverTheFormat) {
  struct Case {
    std::uint16_t clean;
    std::uint32_t bad, consecutive;
    std::optional<std::uint32_t> answered;  // the bad lines answered; nullopt: a clean page
  } cases[] = {
      {CLEANFAXDATA_CLEAN, 0, 0, std::nullopt},
      {CLEANFAXDATA_REGENERATED, 17, 5, 17},
      {CLEANFAXDATA_UNCLEAN, 0, 0, 0},
      {CLEANFAXDATA_CLEAN, 3, 0, 3},
      {CLEANFAXDATA_REGENERATED, 0, 9, 9},
      {CLEANFAXDATA_REGENERATED, 4000000000u, 0, 200},
      {7, 0, 0, std::nullopt},
  };
  std::vector<test::FaxTiffPage> sent;
  std::vector<DamagedPage> expected;
  for (const Case& c : cases) {
    sent.push_back(test::BlockPage(200, static_cast<std::uint32_t>(sent.size())));
    sent.back().noteLines = true;
    sent.back().cleanFaxData = c.clean;
    sent.back().badFaxLines = c.bad;
    sent.back().consecutiveBadFaxLines = c.consecutive;
    if (c.answered) expected.push_back({static_cast<int>(sent.size()), *c.answered});
  }
  sent.push_back(test::BlockPage(200, 99));  // no note at all
  const std::string capture = dir_.File("capture.tif");
  ASSERT_TRUE(test::WriteFaxTiff(capture, sent, test::FaxTiffCoding::kGroup3TwoD));
  for (ImageFormat format : {ImageFormat::Png, ImageFormat::Tiff}) {
    const ConvertedFax fax = ConvertSffToImages(capture, format, log_);
    EXPECT_EQ(fax.pageCount, static_cast<int>(sent.size()));
    EXPECT_EQ(fax.damagedPages, expected) << "format " << static_cast<int>(format);
  }
}

}  // namespace
}  // namespace kestrel
