// The "MSN" page against the embedded SQLite store: the list in ascending
// order of its numbers, add / edit / delete through ForwardingEditDialog with
// every refusal text, the first of two equal rows changed, rows that vanished
// meanwhile, database errors shown with the driver's text, and the accept-all
// mode with its enable rules and address reminder.
#include "ui/msn_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "desktop/message_box.h"
#include "desktop/report_list.h"
#include "store/forwarding_table.h"
#include "store/odbc_connection.h"
#include "tests/desktop/desktop_home.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/store/test_database.h"

namespace kestrel {
namespace {

using test::CModalScript;
using Rows = std::vector<std::string>;

// Fills ForwardingEditDialog's fields and presses OK (or Cancel).
std::function<void(QWidget*)> Enter(const QString& number, const QString& address, bool ok = true,
                                    QString* caption = nullptr) {
  return [=](QWidget* w) {
    if (caption) *caption = w->windowTitle();
    w->findChild<QLineEdit*>("number")->setText(number);
    w->findChild<QLineEdit*>("address")->setText(address);
    auto* dialog = qobject_cast<QDialog*>(w);
    ok ? dialog->accept() : dialog->reject();
  };
}

class MsnPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    home.CreateTables();
    page.SetConnection(&db);
  }
  void Show(bool all = false, const std::string& emailAll = "") {
    ServiceSettings s;
    s.All = all;
    s.EmailAll = emailAll;
    page.Load(s);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  }
  ServiceSettings Stored() {
    ServiceSettings s;
    EXPECT_TRUE(page.Store(s));
    return s;
  }
  void Add(const std::string& number, const std::string& address) {
    AddForwardingRow(db, ForwardingTable::kMsn, {number, address});
  }
  Rows ListRows() {
    Rows rows;
    CReportList* list = page.List();
    for (int r = 0; r < list->ItemCount(); ++r)
      rows.push_back((list->ItemText(r, 0) + "|" + list->ItemText(r, 1)).toStdString());
    return rows;
  }
  QPushButton* Button(const char* name) { return page.findChild<QPushButton*>(name); }
  void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
  Rows Table() { return home.Rows("tblMSNEmail"); }

  test::CDesktopHome home;
  COdbcConnection db;
  CMsnPage page;
};

TEST_F(MsnPageTest, ListShowsTheTableInAscendingOrderOfTheNumberText) {
  Add("300", "c@example.org");
  Add("1000", "a@example.org");
  Add("20", "b@example.org");
  Show();
  EXPECT_EQ(ListRows(), (Rows{"1000|a@example.org", "20|b@example.org", "300|c@example.org"}));
  CReportList* list = page.List();
  EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "MSN");
  EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "Email-Weiterleitung");
  EXPECT_EQ(list->columnWidth(0), list->ScaledWidth(68));
  EXPECT_EQ(list->columnWidth(1), list->ScaledWidth(168));
  EXPECT_FALSE(list->item(0, 0)->icon().isNull());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(MsnPageTest, AddStoresTheRowAndListsItInOrder) {
  Add("200", "b@example.org");
  Show();
  CModalScript script;
  QString caption;
  script.Handle(Enter("100", "first.last@example.org", true, &caption));
  Click("add");
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  EXPECT_EQ(caption, "MSN bearbeiten");
  EXPECT_EQ(Table(), (Rows{"200|b@example.org", "100|first.last@example.org"}));
  EXPECT_EQ(ListRows(), (Rows{"100|first.last@example.org", "200|b@example.org"}));
}

TEST_F(MsnPageTest, AddRefusesAnEmptyNumberAndAnInvalidAddress) {
  Show();
  struct Case {
    QString number, address;
    std::string text;
  } cases[] = {
      {"", "a@example.org", "The incoming MSN is not valid"},
      {"100", "", "The email address must be valid."},
      {"100", "fax@example", "The email address must be valid."},
      {"100", "first.last@example", "The email address must be valid."},
  };
  for (const Case& c : cases) {
    CModalScript script;
    script.Handle(Enter(c.number, c.address)).AnswerBox();
    Click("add");
    ASSERT_TRUE(script.Done()) << c.text;
    EXPECT_EQ(script.BoxTexts(), Rows{c.text});
    EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Warning);
  }
  EXPECT_TRUE(Table().empty());
  EXPECT_EQ(page.List()->ItemCount(), 0);
}

TEST_F(MsnPageTest, AddCancelledChangesNothing) {
  Show();
  CModalScript script;
  script.Handle(Enter("100", "a@example.org", false));
  Click("add");
  ASSERT_TRUE(script.Done());
  EXPECT_TRUE(Table().empty());
  EXPECT_EQ(page.List()->ItemCount(), 0);
}

TEST_F(MsnPageTest, EditChangesTheFirstOfTwoEqualRowsOnly) {
  Add("100", "first@example.org");
  Add("100", "second@example.org");
  Show();
  page.List()->SelectRow(0);
  CModalScript script;
  QString number;
  script.Handle([&](QWidget* w) {
    number = w->findChild<QLineEdit*>("number")->text();
    Enter("150", "new@example.org")(w);
  });
  Click("edit");
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(number, "100");
  EXPECT_EQ(Table(), (Rows{"150|new@example.org", "100|second@example.org"}));
  EXPECT_EQ(ListRows(), (Rows{"100|second@example.org", "150|new@example.org"}));
}

TEST_F(MsnPageTest, DoubleClickEditsTheRow) {
  Add("100", "a@example.org");
  Show();
  CReportList* list = page.List();
  const QRect cell = list->visualItemRect(list->item(0, 1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  CModalScript script;
  script.Handle(Enter("100", "b@example.org"));
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(Table(), Rows{"100|b@example.org"});
}

TEST_F(MsnPageTest, EditRefusesAnInvalidAddressAndAnEmptyNumber) {
  Add("100", "a@example.org");
  Show();
  page.List()->SelectRow(0);
  struct Case {
    QString number, address;
    std::string text;
  } cases[] = {
      {"", "a@example.org", "Sie müssen eine korrekte MSN eingeben"},
      {"100", "a@example", "Sie müssen eine korrekte e-Mail Adresse eingeben"},
      {"", "", "Sie müssen eine korrekte e-Mail Adresse eingeben"},
  };
  for (const Case& c : cases) {
    CModalScript script;
    script.Handle(Enter(c.number, c.address)).AnswerBox();
    Click("edit");
    ASSERT_TRUE(script.Done()) << c.text;
    EXPECT_EQ(script.BoxTexts(), Rows{c.text});
  }
  EXPECT_EQ(Table(), Rows{"100|a@example.org"});
  EXPECT_EQ(ListRows(), Rows{"100|a@example.org"});
}

TEST_F(MsnPageTest, EditOfARowNoLongerInTheTableShowsNoDialog) {
  Add("100", "a@example.org");
  Show();
  test::ExecuteSql(home.ConnectString(), "DELETE FROM tblMSNEmail");
  page.List()->SelectRow(0);
  CModalScript script(300);
  Click("edit");
  QTest::qWait(100);
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  EXPECT_EQ(ListRows(), Rows{"100|a@example.org"});
}

TEST_F(MsnPageTest, EditAndDeleteWithoutSelectionDoNothing) {
  Add("100", "a@example.org");
  Show();
  CModalScript script(300);
  Click("edit");
  Click("delete");
  QTest::qWait(100);
  EXPECT_TRUE(script.Failure().empty()) << script.Failure();
  EXPECT_EQ(Table(), Rows{"100|a@example.org"});
  EXPECT_EQ(page.List()->ItemCount(), 1);
}

TEST_F(MsnPageTest, DeleteRemovesTheFirstRowOfTheNumberAndTheListRow) {
  Add("100", "first@example.org");
  Add("100", "second@example.org");
  Add("200", "b@example.org");
  Show();
  page.List()->SelectRow(0);
  Click("delete");
  EXPECT_EQ(Table(), (Rows{"100|second@example.org", "200|b@example.org"}));
  EXPECT_EQ(page.List()->ItemCount(), 2);
  // A row that vanished from the table still leaves the list.
  test::ExecuteSql(home.ConnectString(), "DELETE FROM tblMSNEmail WHERE MSN = '200'");
  page.List()->SelectRow(1);
  Click("delete");
  EXPECT_EQ(ListRows(), Rows{"100|second@example.org"});
}

TEST_F(MsnPageTest, DatabaseErrorIsShownWithTheDriversTextAndTheListUpdatedAnyway) {
  Show();
  test::ExecuteSql(home.ConnectString(), "DROP TABLE tblMSNEmail");
  CModalScript script;
  script.Handle(Enter("100", "a@example.org")).AnswerBox();
  Click("add");
  ASSERT_TRUE(script.Done());
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_NE(script.Boxes()[0].text.indexOf("no such table"), -1) << script.Boxes()[0].text.toStdString();
  EXPECT_EQ(ListRows(), Rows{"100|a@example.org"});
}

TEST_F(MsnPageTest, AcceptAllSwitchesBetweenListAndAddress) {
  Add("100", "a@example.org");
  Show(false);
  auto* check = page.findChild<QCheckBox*>("acceptAll");
  auto* address = page.findChild<QLineEdit*>("emailAll");
  EXPECT_TRUE(page.List()->isEnabled());
  EXPECT_TRUE(Button("add")->isEnabled());
  EXPECT_FALSE(address->isEnabled());
  test::ExecuteSql(home.ConnectString(), "INSERT INTO tblMSNEmail VALUES ('200', 'b@example.org')");
  check->click();
  EXPECT_TRUE(Stored().All);
  EXPECT_FALSE(page.List()->isEnabled());
  EXPECT_FALSE(Button("add")->isEnabled());
  EXPECT_FALSE(Button("edit")->isEnabled());
  EXPECT_FALSE(Button("delete")->isEnabled());
  EXPECT_TRUE(address->isEnabled());
  EXPECT_EQ(page.List()->ItemCount(), 2) << "turning accept-all on fills the list again";
  check->click();
  EXPECT_FALSE(Stored().All);
  EXPECT_TRUE(page.List()->isEnabled());
  EXPECT_TRUE(Button("delete")->isEnabled());
  EXPECT_FALSE(address->isEnabled());
}

TEST_F(MsnPageTest, AcceptAllShownFirstWithTheListDisabled) {
  Show(true, "all@example.org");
  EXPECT_FALSE(page.List()->isEnabled());
  EXPECT_TRUE(page.findChild<QLineEdit*>("emailAll")->isEnabled());
  EXPECT_EQ(page.findChild<QLineEdit*>("emailAll")->text(), "all@example.org");
}

TEST_F(MsnPageTest, LeavingAnInvalidAcceptAllAddressShowsTheReminderAndKeepsIt) {
  Show(true, "");
  auto* address = page.findChild<QLineEdit*>("emailAll");
  auto* check = page.findChild<QCheckBox*>("acceptAll");
  for (const char* typed : {"", "all@example"}) {
    // The closed box leaves no window active on the offscreen platform.
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    address->setFocus(Qt::MouseFocusReason);
    address->setText(QString::fromLatin1(typed));
    CModalScript script;
    script.AnswerBox();
    check->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(test::WaitUntil([&] { return script.Done(); })) << typed;
    EXPECT_EQ(script.BoxTexts(), Rows{"You must also insert a valid Email Address"});
    EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(Stored().EmailAll, typed);
  }
  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  address->setFocus(Qt::MouseFocusReason);
  address->setText("all@example.org");
  CModalScript quiet(300);
  check->setFocus(Qt::TabFocusReason);
  QTest::qWait(100);
  EXPECT_TRUE(quiet.Boxes().empty());
  EXPECT_EQ(Stored().EmailAll, "all@example.org");
}

}  // namespace
}  // namespace kestrel
