// ForwardingEditDialog's four modes (caption and number label), its fields
// moving in and out of the members, and the address check of the editors.
#include "ui/forwarding_edit_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/desktop/qt_test_support.h"

namespace kestrel {
namespace {

using test::CModalScript;

QString NumberLabel(ForwardingEditDialog& d) {
  for (QLabel* l : d.findChildren<QLabel*>())
    if (l->buddy() == d.findChild<QLineEdit*>("number")) return l->text();
  return {};
}

TEST(ForwardingEditDialogTest, ModesSetCaptionAndNumberLabel) {
  ForwardingEditDialog d;
  d.SetMode(ForwardingEditDialog::kNewForwarding);
  EXPECT_EQ(d.windowTitle(), "New forwarding");
  EXPECT_EQ(NumberLabel(d), "&Incoming Fax Nr. (TSID):");
  d.SetMode(ForwardingEditDialog::kEditForwarding);
  EXPECT_EQ(d.windowTitle(), "Edit forwarding");
  EXPECT_EQ(NumberLabel(d), "&Incoming Fax Nr. (TSID):");
  d.SetMode(ForwardingEditDialog::kAddMsn);
  EXPECT_EQ(d.windowTitle(), "MSN bearbeiten");
  EXPECT_EQ(NumberLabel(d), "&MSN:");
  d.SetMode(ForwardingEditDialog::kEditMsn);
  EXPECT_EQ(d.windowTitle(), "MSN bearbeiten");
  EXPECT_EQ(NumberLabel(d), "&MSN:");
}

TEST(ForwardingEditDialogTest, OkTakesTheTypedValuesAndCancelKeepsTheMembers) {
  ForwardingEditDialog d;
  d.SetMode(ForwardingEditDialog::kEditMsn);
  d.numberText = "100";
  d.addressText = "old@example.org";
  CModalScript script;
  script.Handle([](QWidget* w) {
    auto* number = w->findChild<QLineEdit*>("number");
    auto* address = w->findChild<QLineEdit*>("address");
    EXPECT_EQ(number->text(), "100");
    EXPECT_EQ(address->text(), "old@example.org");
    number->clear();
    QTest::keyClicks(number, "2x01");
    address->setText("new@example.org");
    QPushButton* ok = w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->text(), "OK");
    ok->click();
  });
  EXPECT_EQ(d.exec(), QDialog::Accepted);
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(d.numberText, "201");
  EXPECT_EQ(d.addressText, "new@example.org");

  script.Handle([](QWidget* w) {
    w->findChild<QLineEdit*>("number")->setText("999");
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  EXPECT_EQ(d.exec(), QDialog::Rejected);
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(d.numberText, "201");
}

TEST(ForwardingEditDialogTest, AddressNeedsAnAtSignWithTheLastFullStopAfterIt) {
  EXPECT_TRUE(IsValidEmailAddress("fax@example.org"));
  EXPECT_TRUE(IsValidEmailAddress("first.last@example.org"));
  EXPECT_TRUE(IsValidEmailAddress("@."));
  EXPECT_TRUE(IsValidEmailAddress("a@b@c.d"));
  EXPECT_FALSE(IsValidEmailAddress("fax@example"));
  EXPECT_FALSE(IsValidEmailAddress("first.last@example"));
  EXPECT_FALSE(IsValidEmailAddress("fax.example.org"));
  EXPECT_FALSE(IsValidEmailAddress(""));
  EXPECT_FALSE(IsValidEmailAddress("a.b@c"));
}

}  // namespace
}  // namespace kestrel
