// The "Email" page: start values, list entries in index order, the enable
// rules of the login and width fields, and the two number checks with their
// refusal texts, driven through the page's own controls.
#include "ui/dlg_options_page_email.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "desktop/message_box.h"
#include "tests/desktop/qt_test_support.h"

namespace kestrel {
namespace {

using test::CModalScript;

class EmailPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxCaption(QStringLiteral("Brightwater Kestrel"));
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  }
  template <typename T>
  T* Field(const char* name) {
    T* w = page.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  ServiceSettings Settings(int authentication, int scale) {
    ServiceSettings s;
    s.Name = "Fax Gateway";
    s.Address = "fax@example.org";
    s.Header = "Fax from %TSID%";
    s.SMTPServer = "mail.example.org";
    s.SMTPPort = 587;
    s.AuthenticationMethod = static_cast<SmtpAuthentication>(authentication);
    s.SMTP_User = "fax";
    s.SMTP_Pass = "secret";
    s.ImageFormat = ImageFormat::Png;
    s.UseImageScale = scale;
    s.ImageScaleX = 1200;
    return s;
  }
  CDlgOptionsPageEMail page;
};

TEST_F(EmailPageTest, MembersStartWithTheSubjectTemplateAndNoFormat) {
  CDlgOptionsPageEMail fresh;
  EXPECT_EQ(fresh.Header, "Senderkennung = TSID");
  EXPECT_EQ(fresh.ImageFormat, -1);
  EXPECT_EQ(fresh.Name, "");
  EXPECT_EQ(fresh.SMTPPort, 0);
  EXPECT_EQ(fresh.AuthenticationMethod, 0);
  fresh.Activate();
  EXPECT_EQ(fresh.findChild<QComboBox*>("imageFormat")->currentIndex(), -1);
  EXPECT_EQ(fresh.findChild<QLineEdit*>("header")->text(), "Senderkennung = TSID");
}

TEST_F(EmailPageTest, ListEntriesStayInIndexOrder) {
  auto* auth = Field<QComboBox>("authentication");
  auto* format = Field<QComboBox>("imageFormat");
  QStringList authEntries, formatEntries;
  for (int i = 0; i < auth->count(); ++i) authEntries << auth->itemText(i);
  for (int i = 0; i < format->count(); ++i) formatEntries << format->itemText(i);
  EXPECT_EQ(authEntries, (QStringList{"None", "CRAM MD5", "AUTH LOGIN", "LOGIN PLAIN", "AUTH PLAIN"}));
  EXPECT_EQ(formatEntries, (QStringList{"Jpg", "Png", "Tiff", "Sff", "Pdf"}));
}

TEST_F(EmailPageTest, ValuesRoundTripThroughTheControls) {
  const ServiceSettings in = Settings(3, 1);
  page.LoadFrom(in);
  page.Activate();
  EXPECT_EQ(Field<QLineEdit>("smtpPort")->text(), "587");
  EXPECT_EQ(Field<QComboBox>("authentication")->currentText(), "LOGIN PLAIN");
  EXPECT_EQ(Field<QComboBox>("imageFormat")->currentText(), "Png");
  EXPECT_EQ(Field<QLineEdit>("smtpPass")->echoMode(), QLineEdit::Password);
  ASSERT_TRUE(page.Deactivate());
  ServiceSettings out = in;
  out.SMTPPort = 0;
  out.Header.clear();
  page.StoreInto(out);
  EXPECT_EQ(out, in);
}

TEST_F(EmailPageTest, FormatOutsideTheListReadsBackAsNoSelection) {
  ServiceSettings s = Settings(0, 0);
  s.ImageFormat = ImageFormatFromNumber(7);
  page.LoadFrom(s);
  page.Activate();
  ASSERT_TRUE(page.Deactivate());
  EXPECT_EQ(page.ImageFormat, -1);
}

TEST_F(EmailPageTest, LoginFieldsFollowTheAuthenticationChoice) {
  page.LoadFrom(Settings(0, 0));
  page.Activate();
  auto* user = Field<QLineEdit>("smtpUser");
  auto* pass = Field<QLineEdit>("smtpPass");
  EXPECT_FALSE(user->isEnabled());
  EXPECT_FALSE(pass->isEnabled());
  auto* auth = Field<QComboBox>("authentication");
  auth->setFocus();
  QTest::keyClick(auth, Qt::Key_Down);
  QTest::keyClick(auth, Qt::Key_Down);
  EXPECT_EQ(auth->currentText(), "AUTH LOGIN");
  EXPECT_TRUE(user->isEnabled());
  EXPECT_TRUE(pass->isEnabled());
  QTest::keyClick(auth, Qt::Key_Home);
  EXPECT_EQ(auth->currentIndex(), 0);
  EXPECT_FALSE(user->isEnabled());
  EXPECT_FALSE(pass->isEnabled());
}

TEST_F(EmailPageTest, LoginFieldsEnabledAtFirstShowWhenAMethodIsSet) {
  page.LoadFrom(Settings(1, 1));
  page.Activate();
  EXPECT_TRUE(Field<QLineEdit>("smtpUser")->isEnabled());
  EXPECT_TRUE(Field<QLineEdit>("smtpPass")->isEnabled());
  EXPECT_TRUE(Field<QLineEdit>("imageScaleX")->isEnabled());
}

TEST_F(EmailPageTest, WidthFollowsScalePictureAndTheClickUpdatesTheMembers) {
  page.LoadFrom(Settings(0, 0));
  page.Activate();
  auto* width = Field<QLineEdit>("imageScaleX");
  auto* scale = Field<QCheckBox>("useImageScale");
  EXPECT_FALSE(width->isEnabled());
  Field<QLineEdit>("smtpServer")->setText("smtp.example.net");
  QTest::mouseClick(scale, Qt::LeftButton, {}, QPoint(8, scale->height() / 2));
  EXPECT_TRUE(scale->isChecked());
  EXPECT_TRUE(width->isEnabled());
  EXPECT_EQ(page.UseImageScale, 1);
  EXPECT_EQ(page.SMTPServer, "smtp.example.net");
  QTest::mouseClick(scale, Qt::LeftButton, {}, QPoint(8, scale->height() / 2));
  EXPECT_FALSE(width->isEnabled());
  EXPECT_EQ(page.UseImageScale, 0);
}

TEST_F(EmailPageTest, PortThatIsNoUnsignedNumberIsRefused) {
  page.LoadFrom(Settings(0, 0));
  page.Activate();
  auto* port = Field<QLineEdit>("smtpPort");
  for (const char* bad : {"", "-25", "25x", "4294967296"}) {
    port->setText(QString::fromLatin1(bad));
    CModalScript script;
    script.AnswerBox();
    EXPECT_FALSE(page.Deactivate()) << bad;
    ASSERT_TRUE(script.Done()) << bad;
    EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"Geben Sie bitte eine positive ganze Zahl ein."});
    EXPECT_EQ(script.Boxes()[0].caption, "Brightwater Kestrel");
    EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(test::WaitUntil([&] { return page.focusWidget() == port; }, 1000)) << bad;
    EXPECT_EQ(page.SMTPPort, 587) << bad;
  }
  port->setText(" 2525 ");
  EXPECT_TRUE(page.Deactivate());
  EXPECT_EQ(page.SMTPPort, 2525);
}

TEST_F(EmailPageTest, PortBeyondTheSignedRangeKeepsItsStoredValue) {
  ServiceSettings s = Settings(0, 0);
  s.SMTPPort = -1;
  page.LoadFrom(s);
  page.Activate();
  EXPECT_EQ(Field<QLineEdit>("smtpPort")->text(), "4294967295");
  ASSERT_TRUE(page.Deactivate());
  EXPECT_EQ(page.SMTPPort, -1);
}

TEST_F(EmailPageTest, WidthThatIsNoWholeNumberIsRefused) {
  page.LoadFrom(Settings(0, 1));
  page.Activate();
  auto* width = Field<QLineEdit>("imageScaleX");
  width->setText("");
  CModalScript script;
  script.AnswerBox();
  EXPECT_FALSE(page.Deactivate());
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"Geben Sie bitte eine ganze Zahl ein."});
  EXPECT_TRUE(test::WaitUntil([&] { return page.focusWidget() == width; }, 1000));
  width->setText("-40");
  EXPECT_TRUE(page.Deactivate());
  EXPECT_EQ(page.ImageScaleX, -40);
}

TEST_F(EmailPageTest, NumberFieldsTakeOnlyDigitsFromTheKeyboard) {
  page.LoadFrom(Settings(0, 1));
  page.Activate();
  auto* port = Field<QLineEdit>("smtpPort");
  port->clear();
  QTest::keyClicks(port, "2a5-x");
  EXPECT_EQ(port->text(), "25");
  auto* width = Field<QLineEdit>("imageScaleX");
  width->clear();
  QTest::keyClicks(width, "9.6k0");
  EXPECT_EQ(width->text(), "960");
}

TEST_F(EmailPageTest, SecurityProposesItsPortAndRoundTripsWithCAFileAuthPlainAndPdf) {
  ServiceSettings s = Settings(4, 0);
  s.SMTPPort = 25;
  s.SMTPSecurity = SmtpSecurity::None;
  s.SMTPCAFile = "/etc/kestrel/office-ca.pem";
  s.ImageFormat = ImageFormat::Pdf;
  page.LoadFrom(s);
  page.ExchangeToControls();
  EXPECT_EQ(Field<QComboBox>("authentication")->currentText(), "AUTH PLAIN");
  EXPECT_EQ(Field<QComboBox>("imageFormat")->currentText(), "Pdf");
  EXPECT_EQ(Field<QLineEdit>("smtpCAFile")->text(), "/etc/kestrel/office-ca.pem");
  struct Case {
    const char* portBefore;
    int security;
    const char* portAfter;
  } cases[] = {{"25", 1, "587"}, {"", 2, "465"}, {"2525", 1, "2525"}, {"587", 2, "587"}, {"25", 0, "25"}};
  QComboBox* security = Field<QComboBox>("smtpSecurity");
  for (const Case& c : cases) {
    Field<QLineEdit>("smtpPort")->setText(QString::fromLatin1(c.portBefore));
    security->setFocus();
    security->setCurrentIndex(c.security == 0 ? 1 : 0);
    page.OnSecurityChanged(c.security);
    EXPECT_EQ(Field<QLineEdit>("smtpPort")->text().toStdString(), c.portAfter) << c.portBefore << " " << c.security;
  }
  Field<QLineEdit>("smtpPort")->setText(QStringLiteral("465"));
  security->setCurrentIndex(2);
  ASSERT_TRUE(page.ExchangeToMembers());
  ServiceSettings out;
  page.StoreInto(out);
  EXPECT_EQ(out.SMTPSecurity, SmtpSecurity::Tls);
  EXPECT_EQ(out.SMTPPort, 465);
  EXPECT_EQ(out.SMTPCAFile, "/etc/kestrel/office-ca.pem");
  EXPECT_EQ(out.AuthenticationMethod, SmtpAuthentication::Plain);
  EXPECT_EQ(out.ImageFormat, ImageFormat::Pdf);
}

TEST_F(EmailPageTest, FirstRunProposesStartTlsAndPdf) {
  CDlgOptionsPageEMail fresh;
  fresh.ProposeFirstRunValues();
  EXPECT_EQ(fresh.SMTPSecurity, 1);
  EXPECT_EQ(fresh.ImageFormat, 4);
}

}  // namespace
}  // namespace kestrel
