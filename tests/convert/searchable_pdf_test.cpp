// The PDF's invisible text layer: pages rendered from known text come back
// searchable where their words stand; what the font's encoding cannot hold
// is left out; a page over its time limit and a language without its data
// cost the text only, never a page, and the PDF opens without a warning.
#include <gtest/gtest.h>

#include <regex>

#include "convert/fax_file_names.h"
#include "convert/fax_page.h"
#include "convert/fax_pdf.h"
#include "convert/page_text_recognizer.h"
#include "convert/sff_converter.h"
#include "core/event_log.h"
#include "tests/convert/command_output.h"
#include "tests/convert/page_render.h"
#include "tests/convert/text_render.h"
#include "tests/support/file_util.h"
#include "tests/support/temp_dir.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

const std::vector<std::string> kFirstPage = {"Invoice 4711 from Kestrel Gateway",
                                             "Please transfer the amount within fourteen days."};
const std::vector<std::string> kSecondPage = {"Delivery note for twelve boxes of paper"};

class SearchablePdfTest : public ::testing::Test {
 protected:
  // A fax of a fine page and a normal-resolution page of known text.
  std::string Fax() {
    std::vector<tools::SffMakePage> pages(2);
    pages[0].image = test::RenderTextPage(1728, 1100, kFirstPage);
    pages[0].fine = 1;
    pages[1].image = test::HalveRows(test::RenderTextPage(1728, 800, kSecondPage));
    pages[1].fine = 0;
    const std::string path = dir_.File("08154711_07-12-2026-09-05-03.sff");
    test::WriteFileBytes(path, tools::MakeSffFile(pages, tools::SffMakeOptions{}));
    return path;
  }
  // Poppler's output with its messages: a warning would show up in it.
  test::CRun Poppler(const std::string& args) { return test::RunCommand(args + " 2>&1"); }
  std::string PageText(const std::string& pdf, int page) {
    const test::CRun run =
        Poppler("pdftotext -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf + "' -");
    EXPECT_EQ(run.status, 0) << run.out;
    return run.out;
  }
  // The words of `text` one blank apart: where poppler ends lines and
  // paragraphs is not the layer's business.
  static std::string Words(const std::string& text) {
    std::string words = std::regex_replace(text, std::regex("\\s+"), " ");
    if (!words.empty() && words.front() == ' ') words.erase(0, 1);
    if (!words.empty() && words.back() == ' ') words.pop_back();
    return words;
  }
  // The PDF opens and renders in poppler without a word, its pages each an image.
  void ExpectCleanImagePdf(const std::string& pdf, int pages) {
    const test::CRun info = Poppler("pdfinfo '" + pdf + "'");
    EXPECT_NE(info.out.find("Pages:           " + std::to_string(pages) + "\n"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("rror"), std::string::npos) << info.out;
    EXPECT_EQ(Poppler("pdftoppm -r 10 -gray '" + pdf + "' '" + dir_.File("render") + "'").out, "");
    EXPECT_EQ(Poppler("pdffonts '" + pdf + "' >/dev/null").out, "");
  }

  test::CTempDir dir_;
  CEventLog log_{dir_.Path()};
};

TEST_F(SearchablePdfTest, RecognisedWordsLieOverTheirImage) {
  const std::string sff = Fax();
  const ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Pdf, log_, {}, {"eng"});
  const std::string pdf = FaxFilePath(sff, ImageFormat::Pdf);
  ASSERT_EQ(fax.files, std::vector<std::string>{pdf});
  EXPECT_TRUE(test::EventDescriptions(dir_.Path()).empty());
  ExpectCleanImagePdf(pdf, 2);

  EXPECT_EQ(Words(PageText(pdf, 1)), kFirstPage[0] + " " + kFirstPage[1]);
  EXPECT_EQ(Words(PageText(pdf, 2)), kSecondPage[0]) << "a normal-resolution page is read as well";

  // Where a viewer finds "Invoice": at the left margin of 120 pixels
  // (42.4 points at 204 dots per inch), on the first line of text.
  const test::CRun boxes = Poppler("pdftotext -bbox -f 1 -l 1 '" + pdf + "' -");
  const std::regex invoice(R"re(xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="[0-9.]+" yMax="([0-9.]+)">Invoice<)re");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(boxes.out, m, invoice)) << boxes.out;
  EXPECT_NEAR(std::stod(m[1]), 120 * 72.0 / 204, 1.5);
  EXPECT_GT(std::stod(m[2]), 120 * 72.0 / 196 - 3);
  EXPECT_LT(std::stod(m[3]), 200 * 72.0 / 196);

  // Nothing of the text shows: the pages look as they do without it.
  ASSERT_EQ(Poppler("pdftoppm -r 30 -gray '" + pdf + "' '" + dir_.File("with") + "'").out, "");
  ASSERT_EQ(ConvertSffToImages(sff, ImageFormat::Pdf, log_).files, std::vector<std::string>{pdf});
  ASSERT_EQ(Words(PageText(pdf, 1)), "");
  ASSERT_EQ(Poppler("pdftoppm -r 30 -gray '" + pdf + "' '" + dir_.File("without") + "'").out, "");
  for (const char* page : {"-1.pgm", "-2.pgm"})
    EXPECT_EQ(test::ReadFileBytes(dir_.File("with") + page), test::ReadFileBytes(dir_.File("without") + page)) << page;
}

TEST_F(SearchablePdfTest, TextKeepsOnlyWhatTheFontEncodingHolds) {
  CFaxPage page;
  ASSERT_TRUE(page.Reset(1728, 400));
  page.SetResolution(kFaxHorizontalResolution, kFaxFineResolution);
  struct {
    const char* read;
    const char* shown;
  } const kWords[] = {
      {"Gr\xC3\xBC\xC3\x9F"
       "e",
       "Gr\xC3\xBC\xC3\x9F"
       "e"},  // Latin-1
      {"\xE2\x80\x9E"
       "5\xE2\x82\xAC\xE2\x80\x9C",
       "\xE2\x80\x9E"
       "5\xE2\x82\xAC\xE2\x80\x9C"},       // WinAnsi's own
      {"\xEF\xAC\x81nal", "final"},        // a ligature spelled out
      {"\xE6\x9D\xB1x\xE4\xBA\xAC", "x"},  // no code in the encoding
      {"a\xFF\xC3(\x01"
       "b",
       "a(b"},  // no UTF-8, a control character
  };
  std::vector<PageWord> words;
  int x = 100;
  for (const auto& w : kWords) {
    words.push_back(PageWord{w.read, x, 100, x + 200, 140, 135, 40, false});
    x += 230;
  }
  words.back().lineEnd = true;
  CFaxPdf pdf({}, log_);
  ASSERT_TRUE(pdf.AddPage(page, words));
  ASSERT_TRUE(pdf.Save(dir_.File("words.pdf")));
  std::string expected;
  for (const auto& w : kWords) expected += std::string(expected.empty() ? "" : " ") + w.shown;
  EXPECT_EQ(Words(PageText(dir_.File("words.pdf"), 1)), expected);
  ExpectCleanImagePdf(dir_.File("words.pdf"), 1);
}

TEST_F(SearchablePdfTest, PageOverItsTimeLimitGoesOutWithoutText) {
  const std::string sff = Fax();
  const ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Pdf, log_, {}, {"eng", std::chrono::milliseconds(1)});
  const std::string pdf = FaxFilePath(sff, ImageFormat::Pdf);
  ASSERT_EQ(fax.files, std::vector<std::string>{pdf});
  EXPECT_FALSE(fax.writeFailed);
  EXPECT_EQ(test::EventDescriptions(dir_.Path()),
            (std::vector<std::string>{"Page_1:_text_recognition_stopped_after_1_ms;_the_page_goes_out_without_text",
                                      "Page_2:_text_recognition_stopped_after_1_ms;_the_page_goes_out_without_text"}));
  ExpectCleanImagePdf(pdf, 2);
  EXPECT_EQ(Words(PageText(pdf, 1) + PageText(pdf, 2)), "");
}

TEST_F(SearchablePdfTest, MissingLanguageDataCostsOnlyTheText) {
  const std::string sff = Fax();
  const ConvertedFax fax = ConvertSffToImages(sff, ImageFormat::Pdf, log_, {}, {"xyz"});
  const std::string pdf = FaxFilePath(sff, ImageFormat::Pdf);
  ASSERT_EQ(fax.files, std::vector<std::string>{pdf});
  EXPECT_EQ(test::EventDescriptions(dir_.Path()),
            std::vector<std::string>{"OCR_language_data_not_found:_xyz;_the_PDF_goes_out_without_text"});
  ExpectCleanImagePdf(pdf, 2);
  EXPECT_EQ(Words(PageText(pdf, 1) + PageText(pdf, 2)), "");

  // Of several languages, those with data are used; a name that could leave
  // the data folder counts as missing.
  CPageTextRecognizer recognizer({"../eng+xyz+eng"}, log_);
  EXPECT_TRUE(recognizer.Ready());
  EXPECT_EQ(test::EventDescriptions(dir_.Path()).back(),
            "OCR_language_data_not_found:_../eng,_xyz;_the_text_is_read_with_eng");
}

}  // namespace
}  // namespace kestrel
