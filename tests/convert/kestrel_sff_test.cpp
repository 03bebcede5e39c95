// The kestrel-sff program, run as a user would run it.
#include <gtest/gtest.h>

#include "tests/convert/command_output.h"
#include "tests/convert/image_readers.h"
#include "tests/convert/page_render.h"
#include "tests/convert/sff_bytes.h"
#include "tests/convert/text_render.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

using test::CRun;

// Runs kestrel-sff with `args`; standard error is folded into the output.
CRun RunSff(const std::string& args) {
  return test::RunCommand(std::string(KESTREL_SFF_PROGRAM) + " " + args + " 2>&1");
}

class KestrelSffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<tools::SffMakePage> pages(3);
    for (std::uint32_t i = 0; i < 3; ++i)
      pages[i].image = test::HalveRows(test::RenderLetterPage(1728, 400 + 100 * i, i));
    tools::SffMakeOptions options;
    options.fine = false;
    test::WriteFileBytes(sff_, tools::MakeSffFile(pages, options));
  }
  test::CTempDir dir_;
  const std::string sff_ = dir_.File("fax 1.sff");
};

TEST_F(KestrelSffTest, InfoPrintsThePageTable) {
  const CRun run = RunSff("info '" + sff_ + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, sff_ +
                         ": 3 pages\n"
                         "page  width  lines  resolution\n"
                         "   1   1728    200  normal\n"
                         "   2   1728    250  normal\n"
                         "   3   1728    300  normal\n");
}

TEST_F(KestrelSffTest, ConvertWritesTheImagesNextToTheFile) {
  CRun run = RunSff("convert --format png '" + sff_ + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "3\n");
  for (int n = 1; n <= 3; ++n) {
    const auto png = test::ReadPng(dir_.File("fax 1_" + std::to_string(n) + ".png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, 1653);
  }
  run = RunSff("convert --format tif '" + sff_ + "'");
  EXPECT_EQ(run.out, "3\n");
  EXPECT_EQ(test::ReadTiffPages(dir_.File("fax 1.tif")).size(), 3u);
  run = RunSff("convert '" + sff_ + "'");  // JPEG unless told otherwise
  EXPECT_EQ(run.out, "3\n");
  EXPECT_TRUE(test::ReadJpeg(dir_.File("fax 1_2.jpg")).ok);
  EXPECT_FALSE(test::FileExists(dir_.File("TempFax.bmp")));
  run = RunSff("convert --format pdf '" + sff_ + "'");
  EXPECT_EQ(run.out, "3\n");
  EXPECT_EQ(test::ReadFileBytes(dir_.File("fax 1.pdf")).substr(0, 5), "%PDF-");
}

TEST_F(KestrelSffTest, OcrGivesThePdfItsText) {
  std::vector<tools::SffMakePage> pages(1);
  pages[0].image = test::RenderTextPage(1728, 600, {"Searchable fax from Kestrel"});
  test::WriteFileBytes(dir_.File("text.sff"), tools::MakeSffFile(pages, tools::SffMakeOptions{}));
  const CRun run = RunSff("convert --format pdf --ocr eng '" + dir_.File("text.sff") + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "1\n");
  const CRun text = test::RunCommand("pdftotext '" + dir_.File("text.pdf") + "' - 2>&1");
  EXPECT_NE(text.out.find("Searchable fax from Kestrel"), std::string::npos) << text.out;
  EXPECT_EQ(RunSff("convert --format png --ocr eng '" + dir_.File("text.sff") + "'").status, 2)
      << "only a PDF has a text layer";
}

TEST_F(KestrelSffTest, ErrorsPrintTheReadersTextAndFail) {
  test::WriteFileBytes(dir_.File("bad.sff"), "GIF89a");
  CRun run = RunSff("info " + dir_.File("bad.sff"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "kestrel-sff: Not a valid sff file.\n");
  run = RunSff("convert " + dir_.File("bad.sff"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "kestrel-sff: SFF file error Not a valid sff file.\n");
  test::WriteFileBytes(dir_.File("v2.sff"), test::CSffBytes().DocumentHeader(2).End().Text());
  run = RunSff("info " + dir_.File("v2.sff"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "kestrel-sff: Don\xC2\xB4t know how to handle this Fileversion.\n");
  run = RunSff("info " + dir_.File("none.sff"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("cannot open"), std::string::npos);
  EXPECT_EQ(RunSff("convert --format gif " + sff_).status, 2);
  EXPECT_EQ(RunSff("").status, 2);
}

}  // namespace
}  // namespace kestrel
