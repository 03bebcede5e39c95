// The options sheet as the service's settings editor: caption, tabs in order,
// OK and Cancel without Apply; OK returns the edited values, Cancel discards
// them; a refused number keeps its page and the sheet open; forwarding rows
// stay after Cancel; the journal page opens files in the folder the Fax page
// holds at that moment.
#include "ui/options_sheet.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "journal_view/journal_view.h"
#include "store/journal.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/support/file_util.h"
#include "tests/support/local_time.h"
#include "ui/msn_page.h"

namespace kestrel {
namespace {

using test::CModalScript;
using test::COpenRecorder;

ServiceSettings Complete() {
  ServiceSettings s;
  s.Number = "+49 30 1234567";
  s.ODBCConnect = "DSN=Kestrel";
  s.ReceivedDir = "/var/spool/kestrel";
  s.Address = "fax@example.org";
  s.Name = "Kestrel Fax";
  s.Header = "Fax from %TSID%";
  s.SMTPServer = "mail.example.org";
  s.SMTPPort = 25;
  s.ImageFormat = ImageFormat::Png;
  s.All = true;
  s.EmailAll = "office@example.org";
  return s;
}

QPushButton* Button(QWidget* sheet, QDialogButtonBox::StandardButton which) {
  return sheet->findChild<QDialogButtonBox*>()->button(which);
}

class OptionsSheetTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel")); }
  test::CDesktopHome home;
  COptionsSheet sheet;
};

TEST_F(OptionsSheetTest, CaptionTabsAndButtons) {
  EXPECT_EQ(sheet.windowTitle(), "Kestrel Settings");
  QStringList tabs;
  for (int i = 0; i < sheet.Tabs()->count(); ++i) tabs << sheet.Tabs()->tabText(i);
  EXPECT_EQ(tabs, (QStringList{"MSN", "Fax", "Email", "Forwarding", "Fax Journal", "SIP"}));
  auto* box = sheet.findChild<QDialogButtonBox*>();
  EXPECT_EQ(box->buttons().size(), 2);
  EXPECT_EQ(box->button(QDialogButtonBox::Ok)->text(), "OK");
  EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), "Cancel");
  EXPECT_EQ(box->button(QDialogButtonBox::Apply), nullptr);
}

TEST_F(OptionsSheetTest, OkReturnsTheEditedValues) {
  ServiceSettings values = Complete();
  CModalScript script;
  script.Handle([](QWidget* w) {
    auto* s = qobject_cast<COptionsSheet*>(w);
    EXPECT_EQ(s->Tabs()->currentIndex(), 0);
    s->Tabs()->setCurrentIndex(2);
    s->findChild<QLineEdit*>("smtpServer")->setText("smtp.example.net");
    s->findChild<QLineEdit*>("smtpPort")->setText("587");
    s->Tabs()->setCurrentIndex(1);
    s->findChild<QLineEdit*>("number")->setText("+49 40 7654321");
    Button(w, QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done());
  ServiceSettings expected = Complete();
  expected.SMTPServer = "smtp.example.net";
  expected.SMTPPort = 587;
  expected.Number = "+49 40 7654321";
  EXPECT_EQ(values, expected);
}

TEST_F(OptionsSheetTest, CancelDiscardsEveryEdit) {
  ServiceSettings values = Complete();
  CModalScript script;
  script.Handle([](QWidget* w) {
    auto* s = qobject_cast<COptionsSheet*>(w);
    s->Tabs()->setCurrentIndex(2);
    s->findChild<QLineEdit*>("smtpPort")->setText("2525");
    s->Tabs()->setCurrentIndex(0);
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(values, Complete());
}

TEST_F(OptionsSheetTest, RefusedPortKeepsThePageAndTheSheetOpen) {
  ServiceSettings values = Complete();
  CModalScript script;
  bool stayedOnEmail = false, stayedOpen = false;
  script
      .Handle([&](QWidget* w) {
        auto* s = qobject_cast<COptionsSheet*>(w);
        s->Tabs()->setCurrentIndex(2);
        auto* port = s->findChild<QLineEdit*>("smtpPort");
        port->clear();
        s->Tabs()->setCurrentIndex(3);  // refused: box 1
        stayedOnEmail = s->Tabs()->currentIndex() == 2;
        Button(w, QDialogButtonBox::Ok)->click();  // refused: box 2
        stayedOpen = s->isVisible();
        port->setText("465");
        Button(w, QDialogButtonBox::Ok)->click();
      })
      .AnswerBox()
      .AnswerBox();
  ASSERT_TRUE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(stayedOnEmail);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(script.BoxTexts(), (std::vector<std::string>{"Geben Sie bitte eine positive ganze Zahl ein.",
                                                         "Geben Sie bitte eine positive ganze Zahl ein."}));
  EXPECT_EQ(values.SMTPPort, 465);
}

TEST_F(OptionsSheetTest, ForwardingRowsAddedStayAfterCancel) {
  ServiceSettings values = Complete();
  values.All = false;
  CModalScript script;
  script
      .Handle([](QWidget* w) {
        auto* s = qobject_cast<COptionsSheet*>(w);
        QTest::mouseClick(s->MsnPage()->findChild<QPushButton*>("add"), Qt::LeftButton);
        Button(w, QDialogButtonBox::Cancel)->click();
      })
      .Handle([](QWidget* d) {
        d->findChild<QLineEdit*>("number")->setText("1234567");
        d->findChild<QLineEdit*>("address")->setText("sales@example.org");
        qobject_cast<QDialog*>(d)->accept();
      });
  EXPECT_FALSE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done()) << script.Failure();
  EXPECT_EQ(home.Rows("tblMSNEmail"), std::vector<std::string>{"1234567|sales@example.org"});

  // The next showing fills the list afresh from the table.
  script.Handle([](QWidget* w) {
    auto* s = qobject_cast<COptionsSheet*>(w);
    EXPECT_EQ(s->MsnPage()->List()->ItemCount(), 1);
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done());
}

TEST_F(OptionsSheetTest, JournalPageOpensFilesInTheFolderTheFaxPageHoldsNow) {
  CEventLog log(home.Path());
  test::WriteFileBytes(home.File("fax.sff"), "sff");
  ASSERT_TRUE(InsertJournalEntry(log, "0301234", test::LocalTime("07/12/2026 10:11:12"), 1, "/elsewhere/fax.sff").Ok());
  ServiceSettings values = Complete();
  COpenRecorder opened;
  const QString folder = QString::fromStdString(home.Path()).chopped(1);
  CModalScript script;
  script.Handle([&](QWidget* w) {
    auto* s = qobject_cast<COptionsSheet*>(w);
    s->Tabs()->setCurrentIndex(1);
    s->findChild<QLineEdit*>("receivedDir")->setText(folder);
    s->Tabs()->setCurrentIndex(4);
    CReportList* list = s->JournalPage()->List();
    EXPECT_EQ(list->ItemCount(), 1);
    list->SelectRow(0);
    s->JournalPage()->OnOpenSelected();
    Button(w, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done()) << script.Failure();
  ASSERT_EQ(opened.opened.size(), 1);
  EXPECT_EQ(opened.opened[0].toLocalFile(), folder + "/fax.sff");
}

TEST_F(OptionsSheetTest, EscapeOnTheJournalPageCancelsTheSheetAndKeepsThePage) {
  ServiceSettings values = Complete();
  CModalScript script;
  bool pageShown = false, closedByEscape = false;
  script.Handle([&](QWidget* w) {
    auto* s = qobject_cast<COptionsSheet*>(w);
    s->Tabs()->setCurrentIndex(4);
    s->JournalPage()->List()->setFocus();
    QTest::keyClick(s->JournalPage()->List(), Qt::Key_Escape);
    pageShown = s->JournalPage()->isVisibleTo(s);
    closedByEscape = !s->isVisible();
    if (!closedByEscape) Button(w, QDialogButtonBox::Cancel)->click();
  });
  EXPECT_FALSE(sheet.EditSettings(values));
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(pageShown);
  EXPECT_TRUE(closedByEscape);
}

}  // namespace
}  // namespace kestrel
