// Exactness on real-looking pages: letters rendered at both resolutions are
// coded by libtiff into SFF files; every row Kestrel's decoder produces must
// equal libtiff's decoding of the same coded line bit for bit, and the decoded
// page must hold the rendered page (every row twice at normal resolution).
#include <gtest/gtest.h>

#include <cstring>

#include "convert/fax_page.h"
#include "convert/line_decoder.h"
#include "convert/sff_file.h"
#include "core/event_log.h"
#include "tests/convert/open_sff.h"
#include "tests/convert/page_render.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

using tools::CMonoBitmap;

class ExactnessTest : public ::testing::TestWithParam<bool> {
 protected:
  bool Fine() const { return GetParam(); }

  std::vector<CMonoBitmap> Pages() const {
    std::vector<CMonoBitmap> pages;
    for (std::uint32_t seed : {1u, 2u}) {
      CMonoBitmap page = test::RenderLetterPage(1728, 2286, seed);
      pages.push_back(Fine() ? page : test::HalveRows(page));
    }
    return pages;
  }

  std::string WriteSff(const std::vector<CMonoBitmap>& images) {
    std::vector<tools::SffMakePage> pages(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) pages[i].image = images[i];
    tools::SffMakeOptions options;
    options.fine = Fine();
    const std::string path = dir_.File("letter.sff");
    test::WriteFileBytes(path, tools::MakeSffFile(pages, options));
    return path;
  }

  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_P(ExactnessTest, EveryDecodedRowEqualsLibtiffsDecoding) {
  const auto images = Pages();
  CSffFile sff = test::OpenSff(WriteSff(images), log_);
  ASSERT_EQ(sff.PageCount(), 2);
  EXPECT_EQ(sff.VerticalResolution() != 0, Fine());

  std::vector<std::uint8_t> row(RowBufferSize);
  for (int page = 1; page <= 2; ++page) {
    const CMonoBitmap& image = images[static_cast<std::size_t>(page - 1)];
    ASSERT_EQ(sff.PageWidth(page), 1728u);
    ASSERT_EQ(sff.PageLines(page), static_cast<std::int32_t>(image.height));

    // The coded lines of the page and the image row each stands for.
    std::vector<std::vector<std::uint8_t>> lines;
    std::vector<std::uint32_t> rowOfLine;
    std::uint32_t y = 0;
    ASSERT_TRUE(sff.SeekPage(page));
    SffRecord record;
    while (sff.NextRecord(record)) {
      if (record.type == SffRecordType::CodedLine) {
        lines.push_back(record.data);
        rowOfLine.push_back(y);
      }
      y += record.type == SffRecordType::WhiteSkip ? record.count : 1;
    }
    ASSERT_EQ(y, image.height);
    ASSERT_GT(lines.size(), image.height / 2);  // the page is mostly ink, not white skips

    const auto reference = tools::DecodeRowsMH(1728, lines);
    ASSERT_EQ(reference.size(), lines.size());
    std::size_t blackPixels = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      SffRecord line;
      line.type = SffRecordType::CodedLine;
      line.data = lines[i];
      line.count = static_cast<std::uint16_t>(lines[i].size());
      ASSERT_TRUE(DecodeLine(line, {page, static_cast<int>(rowOfLine[i]) + 1}, row.data(), row.size()))
          << "page " << page << " line " << i;
      ASSERT_EQ(reference[i].size(), 216u);
      ASSERT_EQ(std::memcmp(row.data(), reference[i].data(), 216), 0) << "page " << page << " line " << i;
      ASSERT_EQ(std::memcmp(row.data(), image.Row(rowOfLine[i]), 216), 0) << "page " << page << " line " << i;
      for (std::size_t b = 0; b < 216; ++b) blackPixels += static_cast<std::size_t>(__builtin_popcount(row[b]));
    }
    EXPECT_GT(blackPixels, 50000u);  // text, rules, logo and noise are there
  }
}

TEST_P(ExactnessTest, PageHoldsTheRenderedPage) {
  const auto images = Pages();
  CSffFile sff = test::OpenSff(WriteSff(images), log_);
  std::vector<std::uint8_t> row(RowBufferSize, 0);
  CFaxPage decoded;
  for (int page = 1; page <= 2; ++page) {
    const CMonoBitmap& image = images[static_cast<std::size_t>(page - 1)];
    ASSERT_TRUE(DecodeSffPage(sff, page, !Fine(), row.data(), decoded, log_));
    const std::uint32_t rows = Fine() ? image.height : 2 * image.height;
    ASSERT_EQ(decoded.Width(), 1728);
    ASSERT_EQ(decoded.Height(), static_cast<int>(rows));
    ASSERT_EQ(decoded.Stride(), 216u);
    EXPECT_EQ(decoded.ResolutionX(), 200);
    EXPECT_EQ(decoded.ResolutionY(), 200);
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t source = Fine() ? r : r / 2;
      ASSERT_EQ(std::memcmp(decoded.Row(static_cast<int>(r)), image.Row(source), 216), 0) << "row " << r;
    }
  }
  EXPECT_TRUE(test::EventDescriptions(dir_.Path()).empty());
}

INSTANTIATE_TEST_SUITE_P(BothResolutions, ExactnessTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Fine" : "Normal"; });

}  // namespace
}  // namespace kestrel
