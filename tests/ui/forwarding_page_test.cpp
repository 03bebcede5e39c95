// The "Forwarding" page against the embedded SQLite store: add with its two
// refusals (and no address check), edit without checks, the list row changed
// only after a successful update, delete of the first row found.
#include "ui/forwarding_page.h"

#include <QApplication>
#include <QLabel>
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

std::function<void(QWidget*)> Enter(const QString& number, const QString& address, QString* caption = nullptr,
                                    QString* label = nullptr) {
  return [=](QWidget* w) {
    if (caption) *caption = w->windowTitle();
    auto* numberEdit = w->findChild<QLineEdit*>("number");
    if (label)
      for (QLabel* l : w->findChildren<QLabel*>())
        if (l->buddy() == numberEdit) *label = l->text();
    numberEdit->setText(number);
    w->findChild<QLineEdit*>("address")->setText(address);
    qobject_cast<QDialog*>(w)->accept();
  };
}

class ForwardingPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    home.CreateTables();
    page.SetConnection(&db);
  }
  void Show() {
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    page.Load(ServiceSettings());
  }
  void Add(const std::string& number, const std::string& address) {
    AddForwardingRow(db, ForwardingTable::kTsid, {number, address});
  }
  Rows ListRows() {
    Rows rows;
    for (int r = 0; r < page.List()->ItemCount(); ++r)
      rows.push_back((page.List()->ItemText(r, 0) + "|" + page.List()->ItemText(r, 1)).toStdString());
    return rows;
  }
  void Click(const char* name) { QTest::mouseClick(page.findChild<QPushButton*>(name), Qt::LeftButton); }
  Rows Table() { return home.Rows("tblTSIDEMail"); }

  test::CDesktopHome home;
  COdbcConnection db;
  CForwardingPage page;
};

TEST_F(ForwardingPageTest, ListHasItsColumnsAndButtonsInOrder) {
  Add("0301234", "x@example.org");
  Add("0221", "y@example.org");
  Show();
  EXPECT_EQ(ListRows(), (Rows{"0221|y@example.org", "0301234|x@example.org"}));
  EXPECT_EQ(page.List()->horizontalHeaderItem(0)->text(), "Senderkennung");
  EXPECT_EQ(page.List()->columnWidth(0), page.List()->ScaledWidth(90));
  EXPECT_EQ(page.List()->columnWidth(1), page.List()->ScaledWidth(160));
  EXPECT_FALSE(page.List()->item(0, 0)->icon().isNull());
  QStringList buttons;
  auto* del = page.findChild<QPushButton*>("delete");
  auto* edit = page.findChild<QPushButton*>("edit");
  auto* add = page.findChild<QPushButton*>("add");
  EXPECT_LT(del->x(), edit->x());
  EXPECT_LT(edit->x(), add->x());
  EXPECT_EQ(del->text(), "&Delete");
  EXPECT_EQ(edit->text(), "&Edit");
  EXPECT_EQ(add->text(), "&Add");
}

TEST_F(ForwardingPageTest, AddStoresAnAddressWithoutAtSign) {
  Show();
  CModalScript script;
  QString caption, label;
  script.Handle(Enter("0301234", "not-an-address", &caption, &label));
  Click("add");
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(caption, "New forwarding");
  EXPECT_EQ(label, "&Incoming Fax Nr. (TSID):");
  EXPECT_EQ(Table(), Rows{"0301234|not-an-address"});
  EXPECT_EQ(ListRows(), Rows{"0301234|not-an-address"});
}

TEST_F(ForwardingPageTest, AddRefusesAMissingNumberOrAddress) {
  Show();
  CModalScript script;
  script.Handle(Enter("", "x@example.org")).AnswerBox();
  Click("add");
  script.Handle(Enter("0301234", "")).AnswerBox();
  Click("add");
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(),
            (Rows{"Sie müssen eine Senderkennung (TSID) angeben.", "Sie müssen eine Email-Adresse angeben."}));
  EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(script.Boxes()[1].icon, QMessageBox::Critical);
  EXPECT_TRUE(Table().empty());
  EXPECT_EQ(page.List()->ItemCount(), 0);
}

TEST_F(ForwardingPageTest, AddingANumberTwiceStoresTwoRows) {
  Add("0301234", "x@example.org");
  Show();
  CModalScript script;
  script.Handle(Enter("0301234", "y@example.org"));
  Click("add");
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(Table(), (Rows{"0301234|x@example.org", "0301234|y@example.org"}));
  EXPECT_EQ(page.List()->ItemCount(), 2);
}

TEST_F(ForwardingPageTest, EditStoresEvenEmptyValuesInTheFirstRow) {
  Add("0301234", "x@example.org");
  Add("0301234", "y@example.org");
  Show();
  page.List()->SelectRow(0);
  CModalScript script;
  QString caption;
  script.Handle(Enter("", "", &caption));
  Click("edit");
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(caption, "Edit forwarding");
  EXPECT_EQ(Table(), (Rows{"|", "0301234|y@example.org"}));
  EXPECT_EQ(ListRows(), (Rows{"|", "0301234|y@example.org"}));
}

TEST_F(ForwardingPageTest, EditThatFailsInTheDatabaseLeavesTheListRow) {
  Add("0301234", "x@example.org");
  Show();
  page.List()->SelectRow(0);
  CModalScript script;
  script
      .Handle([&](QWidget* w) {
        test::ExecuteSql(home.ConnectString(), "DROP TABLE tblTSIDEMail");
        Enter("0309999", "z@example.org")(w);
      })
      .AnswerBox();
  Click("edit");
  ASSERT_TRUE(script.Done());
  ASSERT_EQ(script.Boxes().size(), 1u);
  EXPECT_NE(script.Boxes()[0].text.indexOf("no such table"), -1) << script.Boxes()[0].text.toStdString();
  EXPECT_EQ(ListRows(), Rows{"0301234|x@example.org"});
}

TEST_F(ForwardingPageTest, DeleteRemovesTheFirstRowFound) {
  Add("0301234", "x@example.org");
  Add("0301234", "y@example.org");
  Show();
  page.List()->SelectRow(1);
  Click("delete");
  EXPECT_EQ(Table(), Rows{"0301234|y@example.org"});
  EXPECT_EQ(page.List()->ItemCount(), 1);
}

}  // namespace
}  // namespace kestrel
