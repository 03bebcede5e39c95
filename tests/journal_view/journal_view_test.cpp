// The journal view in both hosts against the embedded SQLite store: rows put
// there by InsertJournalEntry listed newest first with each host's columns,
// Jotter's summary, opening a row's file (the open request caught by a URL
// handler) or the host's cannot-open texts, delete with its pause and reload,
// header clicks that keep the order, and the first-load error only Jotter shows.
#include "journal_view/journal_view.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "store/journal.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/store/test_database.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"

namespace kestrel {
namespace {

using test::CModalScript;
using test::COpenRecorder;
using Strings = std::vector<std::string>;

class JournalViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    home.CreateTables();
  }
  void Insert(const std::string& sender, const std::string& time, int pages, const std::string& file) {
    ASSERT_TRUE(InsertJournalEntry(log, sender, test::LocalTime(time), pages, file).Ok());
  }
  // Three faxes of one day, inserted out of order.
  void InsertThree() {
    Insert("0301234", "07/12/2026 10:11:12", 2, home.File("received/0301234_07-12-2026-10-11-12.sff"));
    Insert("0402222", "07/12/2026 16:00:01", 4, home.File("received/0402222_07-12-2026-16-00-01.sff"));
    Insert("0893333", "07/12/2026 08:30:00", 1, home.File("received/0893333_07-12-2026-08-30-00.sff"));
  }
  Strings Column(CJournalView& view, int column) {
    Strings cells;
    for (int r = 0; r < view.List()->ItemCount(); ++r) cells.push_back(view.List()->ItemText(r, column).toStdString());
    return cells;
  }
  void Show(CJournalView& view) {
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }
  void DoubleClickRow(CJournalView& view, int row) {
    CReportList* list = view.List();
    const QPoint p = list->visualItemRect(list->item(row, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
  }

  test::CDesktopHome home;
  CEventLog log{home.Path()};
};

TEST_F(JournalViewTest, ServicePageListsNewestFirstWithItsColumns) {
  InsertThree();
  CJournalView view(CJournalView::Host::kServicePage);
  view.Start();
  QStringList titles;
  std::vector<int> widths, scaled;
  for (int c = 0; c < view.List()->columnCount(); ++c) {
    titles << view.List()->horizontalHeaderItem(c)->text();
    widths.push_back(view.List()->columnWidth(c));
    scaled.push_back(view.List()->ScaledWidth(std::vector<int>{25, 80, 90, 40, 255}[static_cast<size_t>(c)]));
  }
  EXPECT_EQ(titles, (QStringList{"ID", "SenderNr", "ReceivingTime", "Pages", "FaxFile"}));
  // The specified widths are the minimum; a column widens to what it holds.
  for (size_t c = 0; c < widths.size(); ++c) EXPECT_GE(widths[c], scaled[c]) << c;
  const QFontMetrics fm = view.List()->fontMetrics();
  for (int c = 0; c < view.List()->columnCount(); ++c)
    EXPECT_GE(widths[static_cast<size_t>(c)], fm.horizontalAdvance(view.List()->ItemText(0, c))) << c;
  EXPECT_LT(widths[0], widths[3]);
  EXPECT_LT(widths[3], widths[1]);
  EXPECT_EQ(Column(view, 1), (Strings{"0402222", "0301234", "0893333"}));
  EXPECT_EQ(Column(view, 2), (Strings{"07.12.2026 16:00:01", "07.12.2026 10:11:12", "07.12.2026 08:30:00"}));
  EXPECT_EQ(Column(view, 3), (Strings{"4", "2", "1"}));
  EXPECT_EQ(Column(view, 4), (Strings{"0402222_07-12-2026-16-00-01.sff", "0301234_07-12-2026-10-11-12.sff",
                                      "0893333_07-12-2026-08-30-00.sff"}));
  EXPECT_EQ(Column(view, 0), (Strings{"2", "1", "3"}));
  EXPECT_EQ(view.Summary(), "");
  EXPECT_EQ(view.findChild<QPushButton*>("close"), nullptr);
}

TEST_F(JournalViewTest, JotterShowsStatusFullPathAndSummary) {
  InsertThree();
  CJournalView view(CJournalView::Host::kJotter);
  EXPECT_EQ(view.windowTitle(), "Kestrel Journal");
  view.Start();
  QStringList titles;
  for (int c = 0; c < view.List()->columnCount(); ++c) titles << view.List()->horizontalHeaderItem(c)->text();
  EXPECT_EQ(titles, (QStringList{"ID", "SenderNr", "ReceivingTime", "Nr.Of Pages", "Status", "FaxFile"}));
  EXPECT_GE(view.List()->columnWidth(2), view.List()->ScaledWidth(120));
  EXPECT_GE(view.List()->columnWidth(2), view.List()->fontMetrics().horizontalAdvance(view.List()->ItemText(0, 2)));
  EXPECT_EQ(Column(view, 4), (Strings{"FaxReceived", "FaxReceived", "FaxReceived"}));
  EXPECT_EQ(Column(view, 5)[0], home.File("received/0402222_07-12-2026-16-00-01.sff"));
  EXPECT_EQ(view.Summary(), "3 Received faxes with 7 pages");
  EXPECT_TRUE(view.findChild<QPushButton*>("close")->isDefault());
}

TEST_F(JournalViewTest, EmptyJournalListsNoRowsAndCountsZero) {
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  EXPECT_EQ(view.List()->ItemCount(), 0);
  EXPECT_EQ(view.Summary(), "0 Received faxes with 0 pages");
}

TEST_F(JournalViewTest, RefreshListsRowsInsertedMeanwhile) {
  CJournalView view(CJournalView::Host::kServicePage);
  view.Start();
  EXPECT_EQ(view.List()->ItemCount(), 0);
  InsertThree();
  QTest::mouseClick(view.findChild<QPushButton*>("refresh"), Qt::LeftButton);
  EXPECT_EQ(view.List()->ItemCount(), 3);
  QTest::mouseClick(view.findChild<QPushButton*>("refresh"), Qt::LeftButton);
  EXPECT_EQ(view.List()->ItemCount(), 3);
}

TEST_F(JournalViewTest, HeaderClickKeepsTheOrder) {
  InsertThree();
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  Show(view);
  QHeaderView* header = view.List()->horizontalHeader();
  for (int c : {1, 2, 1}) {
    const int x = header->sectionViewportPosition(c) + header->sectionSize(c) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
  }
  EXPECT_EQ(Column(view, 1), (Strings{"0402222", "0301234", "0893333"}));
}

TEST_F(JournalViewTest, ServicePageOpensTheFileInTheReceivedFolder) {
  test::WriteFileBytes(home.File("fax.sff"), "sff");
  Insert("0301234", "07/12/2026 10:11:12", 1, "/old/place/fax.sff");
  CJournalView view(CJournalView::Host::kServicePage);
  std::string folder = home.Path().substr(0, home.Path().size() - 1);
  view.SetReceivedFolderSource([&] { return folder; });
  view.Start();
  Show(view);
  COpenRecorder opened;
  CModalScript script(300);
  DoubleClickRow(view, 0);
  ASSERT_EQ(opened.opened.size(), 1);
  EXPECT_EQ(opened.opened[0].toLocalFile().toStdString(), home.File("fax.sff"));
  EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(JournalViewTest, ServicePageWithoutFolderOrFileSaysSo) {
  Insert("0301234", "07/12/2026 10:11:12", 1, "bare-name.sff");
  CJournalView view(CJournalView::Host::kServicePage);
  std::string folder;
  view.SetReceivedFolderSource([&] { return folder; });
  view.Start();
  Show(view);
  EXPECT_EQ(Column(view, 4), Strings{"bare-name.sff"});
  COpenRecorder opened;
  CModalScript script;
  script.AnswerBox();
  DoubleClickRow(view, 0);
  folder = home.File("moved");
  script.AnswerBox();
  DoubleClickRow(view, 0);
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(), (Strings{"Received faxes Folder Name is unknown.",
                                        "Can not open the following file : \n " + folder + "/bare-name.sff"}));
  EXPECT_EQ(script.Boxes()[1].icon, QMessageBox::Warning);
  EXPECT_EQ(script.Boxes()[1].caption, "Brightwater Kestrel");
  EXPECT_TRUE(opened.opened.isEmpty());
}

TEST_F(JournalViewTest, JotterOpensTheStoredPathOrSaysWhyNot) {
  SetMessageBoxCaption(QStringLiteral("Jotter"));
  test::WriteFileBytes(home.File("here.sff"), "sff");
  Insert("1", "07/12/2026 10:00:00", 1, home.File("here.sff"));
  Insert("2", "07/12/2026 11:00:00", 1, home.File("gone.sff"));
  Insert("3", "07/12/2026 12:00:00", 1, "bare-name.sff");
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  Show(view);
  COpenRecorder opened;
  CModalScript script;
  script.AnswerBox().AnswerBox();
  DoubleClickRow(view, 0);  // bare-name.sff, newest
  DoubleClickRow(view, 1);  // gone.sff
  DoubleClickRow(view, 2);  // here.sff
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(), (Strings{"Received faxes Folder Name is unknown.",
                                        "Can not opne the following file :\n " + home.File("gone.sff")}));
  EXPECT_EQ(script.Boxes()[0].caption, "Jotter");
  ASSERT_EQ(opened.opened.size(), 1);
  EXPECT_EQ(opened.opened[0].toLocalFile().toStdString(), home.File("here.sff"));
}

TEST_F(JournalViewTest, DeleteRemovesTheRowAfterAPauseAndKeepsTheFile) {
  test::WriteFileBytes(home.File("fax.sff"), "sff");
  Insert("0301234", "07/12/2026 10:11:12", 1, home.File("fax.sff"));
  Insert("0402222", "07/12/2026 16:00:01", 1, home.File("other.sff"));
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  view.List()->SelectRow(1);
  QElapsedTimer timer;
  timer.start();
  QTest::mouseClick(view.findChild<QPushButton*>("delete"), Qt::LeftButton);
  EXPECT_GE(timer.elapsed(), 1000);
  EXPECT_EQ(Column(view, 1), Strings{"0402222"});
  EXPECT_EQ(view.Summary(), "1 Received faxes with 1 pages");
  const JournalListing left = ListJournalEntries();
  ASSERT_EQ(left.entries.size(), 1u);
  EXPECT_EQ(left.entries[0].senderNr, "0402222");
  EXPECT_TRUE(test::FileExists(home.File("fax.sff")));
}

TEST_F(JournalViewTest, DeleteWithoutSelectionDeletesNothingAndReloads) {
  Insert("0301234", "07/12/2026 10:11:12", 1, home.File("fax.sff"));
  CJournalView view(CJournalView::Host::kServicePage);
  view.Start();
  Insert("0402222", "07/12/2026 16:00:01", 1, home.File("other.sff"));
  QElapsedTimer timer;
  timer.start();
  QTest::mouseClick(view.findChild<QPushButton*>("delete"), Qt::LeftButton);
  EXPECT_GE(timer.elapsed(), 1000);
  EXPECT_EQ(view.List()->ItemCount(), 2);
  EXPECT_EQ(ListJournalEntries().entries.size(), 2u);
}

TEST_F(JournalViewTest, OnlyJotterShowsAnErrorOfItsFirstLoad) {
  SetMessageBoxCaption(QStringLiteral("Jotter"));
  CJournalView jotter(CJournalView::Host::kJotter);
  jotter.SetConnectString("DSN=NoSuchKestrelSource");
  CModalScript script;
  script.AnswerBox();
  jotter.Start();
  ASSERT_TRUE(script.Done());
  const QString text = script.Boxes()[0].text;
  EXPECT_TRUE(text.startsWith("  Error:")) << text.toStdString();
  EXPECT_NE(text.indexOf(" Msg:IM002"), -1) << text.toStdString();
  EXPECT_NE(text.indexOf(" Description:"), -1) << text.toStdString();
  EXPECT_EQ(jotter.Summary(), "") << "the summary keeps its previous text";
  CModalScript quiet(300);
  QTest::mouseClick(jotter.findChild<QPushButton*>("refresh"), Qt::LeftButton);
  CJournalView page(CJournalView::Host::kServicePage);
  page.SetConnectString("DSN=NoSuchKestrelSource");
  page.Start();
  QTest::qWait(50);
  EXPECT_TRUE(quiet.Boxes().empty());
  EXPECT_TRUE(quiet.Failure().empty()) << quiet.Failure();
}

TEST_F(JournalViewTest, FilterNarrowsListAndSummaryByNumberOrDate) {
  InsertThree();
  Insert("0301234", "08/12/2026 07:30:00", 3, home.File("received/0301234_08-12-2026-07-30-00.sff"));
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  struct Case {
    const char* filter;
    Strings senders;
    const char* summary;
  } cases[] = {
      {"0301234", {"0301234", "0301234"}, "2 Received faxes with 5 pages"},
      {"07.12.2026", {"0402222", "0301234", "0893333"}, "3 Received faxes with 7 pages"},
      {"08.12.", {"0301234"}, "1 Received faxes with 3 pages"},
      {"16:00", {"0402222"}, "1 Received faxes with 4 pages"},
      {"0999", {}, "0 Received faxes with 0 pages"},
      {"", {"0301234", "0402222", "0301234", "0893333"}, "4 Received faxes with 10 pages"},
  };
  for (const Case& c : cases) {
    view.SetFilter(QString::fromLatin1(c.filter));
    EXPECT_EQ(Column(view, 1), c.senders) << c.filter;
    EXPECT_EQ(view.Summary().toStdString(), c.summary) << c.filter;
  }
}

TEST_F(JournalViewTest, LargeJournalLoadsInBatchesWhileTheSummaryCountsEveryRow) {
  const int rows = CJournalView::kBatchRows + 30;
  for (int i = 0; i < rows; ++i)
    Insert("030" + std::to_string(1000 + i),
           "07/12/2026 10:" + std::to_string(10 + i / 60) + ":" + (i % 60 < 10 ? "0" : "") + std::to_string(i % 60), 1,
           home.File("received/f.sff"));
  CJournalView view(CJournalView::Host::kJotter);
  view.Start();
  EXPECT_EQ(view.List()->ItemCount(), CJournalView::kBatchRows);
  EXPECT_EQ(view.Summary().toStdString(),
            std::to_string(rows) + " Received faxes with " + std::to_string(rows) + " pages");
  EXPECT_EQ(view.List()->ItemText(0, 1).toStdString(), "030" + std::to_string(1000 + rows - 1));
  EXPECT_TRUE(view.LoadMore());
  EXPECT_EQ(view.List()->ItemCount(), rows);
  EXPECT_EQ(view.List()->ItemText(rows - 1, 1).toStdString(), "0301000");
  EXPECT_FALSE(view.LoadMore());
}

}  // namespace
}  // namespace kestrel
