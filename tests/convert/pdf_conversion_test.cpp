// The PDF of a fax as poppler reads it back: every page in order as a 1-bit
// CCITT image equal to the decoded page, its size from its pixels and its own
// resolution, title and creation date; refused pages left out; a PDF that
// cannot be written makes the conversion worth another try.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <sys/stat.h>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/line_decoder.h"
#include "convert/sff_converter.h"
#include "convert/sff_file.h"
#include "core/event_log.h"
#include "tests/convert/command_output.h"
#include "tests/convert/open_sff.h"
#include "tests/convert/page_render.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

using tools::CMonoBitmap;

struct CPageCase {
  std::uint32_t width;
  std::uint32_t lines;
  bool fine;
  double resolutionY;
};

// Full, a B5-wide and an A5-wide page; fine and normal resolution mixed in one fax.
constexpr CPageCase kPages[] = {
    {1728, 2286, true, 196.0}, {1216, 700, false, 98.0}, {864, 500, true, 196.0}, {1728, 1143, false, 98.0}};

class PdfConversionTest : public ::testing::Test {
 protected:
  std::string Fax(const std::vector<tools::SffMakePage>& pages) {
    const std::string path = dir_.File("08154711_07-12-2026-09-05-03.sff");
    test::WriteFileBytes(path, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
    return path;
  }
  // Poppler's output with its messages; a warning would show up in it.
  test::CRun Poppler(const std::string& args) { return test::RunCommand(args + " 2>&1"); }

  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_F(PdfConversionTest, EveryPageIsItsDecodedPageInGroup4AtItsOwnResolution) {
  std::vector<tools::SffMakePage> pages;
  for (std::size_t i = 0; i < std::size(kPages); ++i) {
    const CPageCase& c = kPages[i];
    tools::SffMakePage page;
    const CMonoBitmap fine =
        test::RenderLetterPage(c.width, c.fine ? c.lines : 2 * c.lines, static_cast<std::uint32_t>(i));
    page.image = c.fine ? fine : test::HalveRows(fine);
    page.fine = c.fine ? 1 : 0;
    pages.push_back(page);
  }
  const std::string sff = Fax(pages);
  const ConvertedFax fax =
      ConvertSffToImages(sff, ImageFormat::Pdf, log_, {"0815 4711", test::LocalTime("07/12/2026 09:05:03")});
  const std::string pdf = FaxFilePath(sff, ImageFormat::Pdf);
  EXPECT_EQ(fax.pageCount, 4);
  EXPECT_EQ(fax.files, std::vector<std::string>{pdf});
  EXPECT_FALSE(fax.writeFailed);
  EXPECT_TRUE(test::EventDescriptions(dir_.Path()).empty());

  // Page count, page sizes (points = pixels x 72 / dots per inch), title and date.
  const test::CRun info = Poppler("pdfinfo -isodates -f 1 -l 4 '" + pdf + "'");
  ASSERT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("Title:           Fax from 0815 4711, 07.12.2026 09:05:03\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("CreationDate:    2026-12-07T09:05:03"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Pages:           4\n"), std::string::npos) << info.out;
  for (std::size_t i = 0; i < std::size(kPages); ++i) {
    char expected[80];
    std::snprintf(expected, sizeof(expected), "Page %4zu size:  %g x %g pts", i + 1, kPages[i].width * 72.0 / 204.0,
                  kPages[i].lines * 72.0 / kPages[i].resolutionY);
    EXPECT_NE(info.out.find(expected), std::string::npos) << expected << "\n" << info.out;
  }
  // The first page is A4 as the sending machine scanned it.
  EXPECT_NEAR(1728 * 25.4 / 204, 215.1, 0.1);
  EXPECT_NEAR(2286 * 25.4 / 196, 296.2, 0.1);

  // Each image: 1 bit, CCITT, the page's own pixels and resolution.
  const test::CRun list = Poppler("pdfimages -list '" + pdf + "'");
  ASSERT_EQ(list.status, 0) << list.out;
  std::istringstream rows(list.out);
  std::string line;
  std::getline(rows, line);
  std::getline(rows, line);
  for (std::size_t i = 0; i < std::size(kPages); ++i) {
    ASSERT_TRUE(std::getline(rows, line)) << list.out;
    std::istringstream fields(line);
    std::string page, num, type, width, height, color, comp, bpc, enc, interp, object, generation, xppi, yppi;
    fields >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc >> interp >> object >> generation >>
        xppi >> yppi;
    EXPECT_EQ(page, std::to_string(i + 1));
    EXPECT_EQ(width, std::to_string(kPages[i].width));
    EXPECT_EQ(height, std::to_string(kPages[i].lines));
    EXPECT_EQ(bpc, "1");
    EXPECT_EQ(enc, "ccitt");
    EXPECT_EQ(xppi, "204");
    EXPECT_EQ(yppi, std::to_string(static_cast<int>(kPages[i].resolutionY)));
  }

  // Decoded by poppler, every pixel equals the page as decoded from the SFF file.
  ASSERT_EQ(Poppler("pdfimages '" + pdf + "' '" + dir_.File("image") + "'").out, "");
  CSffFile reader = test::OpenSff(sff, log_);
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  CFaxPage decoded;
  for (int n = 1; n <= 4; ++n) {
    ASSERT_TRUE(DecodeSffPage(reader, n, false, row.data(), decoded, log_));
    char name[32];
    std::snprintf(name, sizeof(name), "image-%03d.pbm", n - 1);
    const CMonoBitmap image = tools::ReadPbm(test::ReadFileBytes(dir_.File(name)));
    ASSERT_EQ(image.width, static_cast<std::uint32_t>(decoded.Width()));
    ASSERT_EQ(image.height, static_cast<std::uint32_t>(decoded.Height()));
    std::size_t differing = 0;
    for (int y = 0; y < decoded.Height(); ++y)
      differing += std::memcmp(image.Row(static_cast<std::uint32_t>(y)), decoded.Row(y), decoded.Stride()) != 0;
    EXPECT_EQ(differing, 0u) << "page " << n;
  }

  // Rendered without a word from poppler.
  EXPECT_EQ(Poppler("pdftoppm -r 10 -gray '" + pdf + "' '" + dir_.File("render") + "'").out, "");
}

TEST_F(PdfConversionTest, RefusedPageIsLeftOut) {
  std::vector<tools::SffMakePage> pages(3);
  pages[0].image = test::RenderLetterPage(1728, 300, 1);
  pages[1].image = CMonoBitmap(kMaxPageWidth + 8, 2);  // wider than any page the decoder takes
  pages[2].image = test::RenderLetterPage(1728, 300, 2);
  const std::string sff = Fax(pages);
  const ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Pdf, log_);
  EXPECT_EQ(fax.pageCount, 3);
  EXPECT_EQ(fax.files, std::vector<std::string>{FaxFilePath(sff, ImageFormat::Pdf)});
  EXPECT_FALSE(fax.writeFailed);
  EXPECT_NE(Poppler("pdfinfo '" + fax.files[0] + "'").out.find("Pages:           2\n"), std::string::npos);
}

TEST_F(PdfConversionTest, PdfThatCannotBeWrittenIsWorthAnotherTry) {
  std::vector<tools::SffMakePage> pages(1);
  pages[0].image = test::RenderLetterPage(1728, 300, 1);
  const std::string sff = Fax(pages);
  // A folder where the PDF belongs: no file can take its place.
  ASSERT_EQ(::mkdir(FaxFilePath(sff, ImageFormat::Pdf).c_str(), 0755), 0);
  const ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Pdf, log_);
  EXPECT_TRUE(fax.writeFailed);
  EXPECT_TRUE(fax.files.empty());
  EXPECT_FALSE(test::FileExists(FaxFilePath(sff, ImageFormat::Pdf) + ".part"));
  EXPECT_EQ(test::EventDescriptions(dir_.Path()).size(), 1u);
}

}  // namespace
}  // namespace kestrel
