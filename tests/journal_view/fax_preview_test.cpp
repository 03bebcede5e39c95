// The preview of a fax's first page: decoded from SFF files the test-data tool
// made from rendered letters (pixel for pixel, normal resolution doubled),
// read from a page image, found through the SFF next to a TIFF or a missing
// page image, nothing for unreadable files, and shown by the journal view for
// the selected row.
#include "journal_view/fax_preview.h"

#include <QImage>
#include <QLabel>

#include <gtest/gtest.h>

#include <random>

#include "convert/fax_file_names.h"
#include "core/event_log.h"
#include "desktop/report_list.h"
#include "journal_view/journal_view.h"
#include "store/journal.h"
#include "tests/convert/page_render.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"
#include "tools/sff-make/sff_maker.h"

namespace kestrel {
namespace {

using tools::CMonoBitmap;

std::string MakeSff(const std::vector<CMonoBitmap>& pages, bool fine = true) {
  std::vector<tools::SffMakePage> sffPages;
  for (const CMonoBitmap& p : pages) {
    tools::SffMakePage page;
    page.image = p;
    sffPages.push_back(std::move(page));
  }
  tools::SffMakeOptions options;
  options.fine = fine;
  return tools::MakeSffFile(sffPages, options);
}

// Pixels where `image` and the bitmap's rows (row y of the bitmap at row
// y * rowScale + k of the image) differ.
long Mismatches(const QImage& image, const CMonoBitmap& bitmap, int rowScale) {
  long differ = 0;
  const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
  for (std::uint32_t y = 0; y < bitmap.height; ++y)
    for (int k = 0; k < rowScale; ++k) {
      const uchar* line = grey.constScanLine(static_cast<int>(y) * rowScale + k);
      for (std::uint32_t x = 0; x < bitmap.width; ++x)
        if ((line[x] < 128) != bitmap.Get(x, y)) ++differ;
    }
  return differ;
}

class FaxPreviewTest : public ::testing::Test {
 protected:
  test::CDesktopHome home;
};

TEST_F(FaxPreviewTest, FirstPageOfAnSffFileIsDecodedPixelForPixel) {
  const CMonoBitmap first = test::RenderLetterPage(1728, 2286, 3);
  const CMonoBitmap second = test::RenderLetterPage(1728, 2286, 4);
  test::WriteFileBytes(home.File("fax.sff"), MakeSff({first, second}));
  const QImage page = FaxFirstPage(QString::fromStdString(home.File("fax.sff")));
  ASSERT_FALSE(page.isNull());
  EXPECT_EQ(page.size(), QSize(1728, 2286));
  EXPECT_EQ(Mismatches(page, first, 1), 0);
  EXPECT_GT(Mismatches(page, second, 1), 1000) << "the first page, not the second";
}

TEST_F(FaxPreviewTest, NormalResolutionLinesAreDoubled) {
  const CMonoBitmap normal = test::HalveRows(test::RenderLetterPage(1728, 2286, 5));
  test::WriteFileBytes(home.File("normal.sff"), MakeSff({normal}, false));
  const QImage page = FaxFirstPage(QString::fromStdString(home.File("normal.sff")));
  ASSERT_FALSE(page.isNull());
  EXPECT_EQ(page.height(), static_cast<int>(normal.height) * 2);
  EXPECT_EQ(Mismatches(page, normal, 2), 0);
}

TEST_F(FaxPreviewTest, PageImageIsReadAsItIs) {
  QImage png(300, 400, QImage::Format_RGB32);
  png.fill(Qt::white);
  png.setPixelColor(10, 20, Qt::black);
  ASSERT_TRUE(png.save(QString::fromStdString(home.File("fax.png"))));
  const QImage page = FaxFirstPage(QString::fromStdString(home.File("fax.png")));
  EXPECT_EQ(page.size(), QSize(300, 400));
  EXPECT_EQ(page.pixelColor(10, 20), QColor(Qt::black));
}

TEST_F(FaxPreviewTest, TiffPdfOrMissingPageImageFallsBackToTheSffFile) {
  const CMonoBitmap first = test::RenderLetterPage(1728, 1200, 6);
  test::WriteFileBytes(home.File("0301_07-12-2026.sff"), MakeSff({first}));
  test::WriteFileBytes(home.File("0301_07-12-2026.tif"), "not a tiff Qt can read");
  for (const char* journalFile :
       {"0301_07-12-2026.tif", "0301_07-12-2026.pdf", "0301_07-12-2026_1.png", "0301_07-12-2026.jpg"}) {
    const QImage page = FaxFirstPage(QString::fromStdString(home.File(journalFile)));
    ASSERT_FALSE(page.isNull()) << journalFile;
    EXPECT_EQ(Mismatches(page, first, 1), 0) << journalFile;
  }
  EXPECT_EQ(SffCandidates("/f/a_1.jpg"), (std::vector<std::string>{"/f/a_1.sff", "/f/a.sff"}));
  EXPECT_EQ(SffCandidates("/f/a.SFF"), std::vector<std::string>{"/f/a.SFF"});
}

TEST_F(FaxPreviewTest, UnreadableFilesGiveNoPicture) {
  std::mt19937 random(7);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  test::WriteFileBytes(home.File("garbage.sff"), garbage);
  EXPECT_TRUE(FaxFirstPage(QString::fromStdString(home.File("garbage.sff"))).isNull());
  EXPECT_TRUE(FaxFirstPage(QString::fromStdString(home.File("missing.sff"))).isNull());
  EXPECT_TRUE(FaxFirstPage(QString()).isNull());
  // A file cut in the middle of its first page still shows what arrived.
  const std::string whole = MakeSff({test::RenderLetterPage(1728, 600, 8)});
  test::WriteFileBytes(home.File("cut.sff"), whole.substr(0, whole.size() / 2));
  const QImage cut = FaxFirstPage(QString::fromStdString(home.File("cut.sff")));
  ASSERT_FALSE(cut.isNull());
  EXPECT_EQ(cut.width(), 1728);
}

TEST_F(FaxPreviewTest, JournalViewShowsTheSelectedFaxBesideTheList) {
  home.CreateTables();
  CEventLog log(home.Path());
  test::WriteFileBytes(home.File("fax.sff"), MakeSff({test::RenderLetterPage(1728, 2286, 9)}));
  ASSERT_TRUE(InsertJournalEntry(log, "0301", test::LocalTime("07/12/2026 10:00:00"), 1, home.File("fax.sff")).Ok());
  ASSERT_TRUE(InsertJournalEntry(log, "0302", test::LocalTime("07/12/2026 11:00:00"), 1, home.File("gone.sff")).Ok());
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  view.show();
  auto* preview = view.findChild<QLabel*>("preview");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->text(), "No preview");
  view.List()->SelectRow(1);  // fax.sff, the older row
  ASSERT_FALSE(view.PreviewPage().isNull());
  EXPECT_EQ(view.PreviewPage().size(), QSize(1728, 2286));
  ASSERT_FALSE(preview->pixmap().isNull());
  EXPECT_LE(preview->pixmap().width(), 180);
  EXPECT_GT(preview->pixmap().height(), preview->pixmap().width()) << "an upright page";
  view.List()->SelectRow(0);  // gone.sff
  EXPECT_TRUE(view.PreviewPage().isNull());
  EXPECT_EQ(preview->text(), "No preview");
}

}  // namespace
}  // namespace kestrel
