// The "Email" page: list entries in index order, the enable
// rules of the login and width fields, and the two number checks with their
// refusal texts, driven through the page's own controls.
#include "ui/email_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "core/setting_choices.h"
#include "desktop/message_box.h"
#include "tests/desktop/qt_test_support.h"
#include "tests/ui/page_test.h"
#include "ui/setting_fields.h"

namespace kestrel {
namespace {

using test::CModalScript;

class EmailPageTest : public test::CPageTest<CEmailPage> {
 protected:
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
    s.UseImageScale = scale != 0;
    s.ImageScaleX = 1200;
    return s;
  }
  // What the page stores over `before`; fails the case when it refuses.
  ServiceSettings Stored(ServiceSettings before = {}) {
    EXPECT_TRUE(page.Store(before));
    return before;
  }
};

TEST_F(EmailPageTest, ListEntriesStayInIndexOrder) {
  auto* auth = Field<QComboBox>("authentication");
  auto* format = Field<QComboBox>("imageFormat");
  QStringList authEntries, formatEntries;
  for (int i = 0; i < auth->count(); ++i) authEntries << auth->itemText(i);
  for (int i = 0; i < format->count(); ++i) formatEntries << format->itemText(i);
  EXPECT_EQ(authEntries, (QStringList{"None", "CRAM MD5", "AUTH LOGIN", "LOGIN PLAIN", "AUTH PLAIN", "OAuth 2.0"}));
  EXPECT_EQ(formatEntries, (QStringList{"Jpg", "Png", "Tiff", "Sff", "Pdf"}));
}

TEST_F(EmailPageTest, ValuesRoundTripThroughTheControls) {
  const ServiceSettings in = Settings(3, 1);
  page.Load(in);
  EXPECT_EQ(Field<QLineEdit>("smtpPort")->text(), "587");
  EXPECT_EQ(Field<QComboBox>("authentication")->currentText(), "LOGIN PLAIN");
  EXPECT_EQ(Field<QComboBox>("imageFormat")->currentText(), "Png");
  EXPECT_EQ(Field<QLineEdit>("smtpPass")->echoMode(), QLineEdit::Password);
  ServiceSettings out = in;
  out.SMTPPort = 0;
  out.Header.clear();
  EXPECT_EQ(Stored(out), in);
}

TEST_F(EmailPageTest, FormatOutsideTheListReadsBackAsNoSelection) {
  ServiceSettings s = Settings(0, 0);
  s.ImageFormat = ImageFormatFromNumber(7);
  page.Load(s);
  EXPECT_EQ(Field<QComboBox>("imageFormat")->currentIndex(), -1);
  EXPECT_EQ(Stored().ImageFormat, ImageFormatFromNumber(-1));
}

TEST_F(EmailPageTest, LoginFieldsFollowTheAuthenticationChoice) {
  page.Load(Settings(0, 0));
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
  page.Load(Settings(1, 1));
  EXPECT_TRUE(Field<QLineEdit>("smtpUser")->isEnabled());
  EXPECT_TRUE(Field<QLineEdit>("smtpPass")->isEnabled());
  EXPECT_TRUE(Field<QLineEdit>("imageScaleX")->isEnabled());
}

TEST_F(EmailPageTest, WidthFollowsScalePicture) {
  page.Load(Settings(0, 0));
  auto* width = Field<QLineEdit>("imageScaleX");
  auto* scale = Field<QCheckBox>("useImageScale");
  EXPECT_FALSE(width->isEnabled());
  Field<QLineEdit>("smtpServer")->setText("smtp.example.net");
  QTest::mouseClick(scale, Qt::LeftButton, {}, QPoint(8, scale->height() / 2));
  EXPECT_TRUE(scale->isChecked());
  EXPECT_TRUE(width->isEnabled());
  EXPECT_TRUE(Stored().UseImageScale);
  EXPECT_EQ(Stored().SMTPServer, "smtp.example.net");
  QTest::mouseClick(scale, Qt::LeftButton, {}, QPoint(8, scale->height() / 2));
  EXPECT_FALSE(width->isEnabled());
  EXPECT_FALSE(Stored().UseImageScale);
}

TEST_F(EmailPageTest, PortThatIsNoNumberOrOutsideItsRangeIsRefused) {
  page.Load(Settings(0, 0));
  auto* port = Field<QLineEdit>("smtpPort");
  const std::string noNumber = "Geben Sie bitte eine positive ganze Zahl ein.";
  const auto range = [](const char* bad) {
    return "SmtpPortReceive holds \"" + std::string(bad) + "\"; it takes a number from 1 to 65535.";
  };
  const struct {
    const char* bad;
    std::string says;
  } cases[] = {{"", noNumber},           {"-25", noNumber}, {"25x", noNumber},
               {"4294967296", noNumber}, {"0", range("0")}, {"70000", range("70000")}};
  for (const auto& c : cases) {
    port->setText(QString::fromLatin1(c.bad));
    CModalScript script;
    script.AnswerBox();
    ServiceSettings out = Settings(0, 0);
    EXPECT_FALSE(page.Store(out)) << c.bad;
    ASSERT_TRUE(script.Done()) << c.bad;
    EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{c.says});
    EXPECT_EQ(script.Boxes()[0].caption, "Brightwater Kestrel");
    EXPECT_EQ(script.Boxes()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(test::WaitUntil([&] { return page.focusWidget() == port; }, 1000)) << c.bad;
    EXPECT_EQ(out, Settings(0, 0)) << c.bad << ": a refusal stores nothing";
  }
  port->setText(" 2525 ");
  EXPECT_EQ(Stored().SMTPPort, 2525);
}

TEST_F(EmailPageTest, WidthThatIsNoWholeNumberIsRefused) {
  page.Load(Settings(0, 1));
  auto* width = Field<QLineEdit>("imageScaleX");
  width->setText("");
  CModalScript script;
  script.AnswerBox();
  ServiceSettings out;
  EXPECT_FALSE(page.Store(out));
  ASSERT_TRUE(script.Done());
  EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{"Geben Sie bitte eine ganze Zahl ein."});
  EXPECT_TRUE(test::WaitUntil([&] { return page.focusWidget() == width; }, 1000));
  width->setText("-40");
  EXPECT_EQ(Stored().ImageScaleX, -40);
}

TEST_F(EmailPageTest, NumberFieldsTakeOnlyDigitsFromTheKeyboard) {
  page.Load(Settings(0, 1));
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
  s.SMTPPort = kDefaultSmtpPort;
  s.SMTPSecurity = SmtpSecurity::None;
  s.SMTPCAFile = "/etc/kestrel/office-ca.pem";
  s.ImageFormat = ImageFormat::Pdf;
  page.Load(s);
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
    page.OnSecurityChosen(c.security);
    EXPECT_EQ(Field<QLineEdit>("smtpPort")->text().toStdString(), c.portAfter) << c.portBefore << " " << c.security;
  }
  Field<QLineEdit>("smtpPort")->setText(QStringLiteral("465"));
  security->setCurrentIndex(2);
  const ServiceSettings out = Stored();
  EXPECT_EQ(out.SMTPSecurity, SmtpSecurity::Tls);
  EXPECT_EQ(out.SMTPPort, 465);
  EXPECT_EQ(out.SMTPCAFile, "/etc/kestrel/office-ca.pem");
  EXPECT_EQ(out.AuthenticationMethod, SmtpAuthentication::Plain);
  EXPECT_EQ(out.ImageFormat, ImageFormat::Pdf);
}

TEST_F(EmailPageTest, FirstRunProposesStartTlsAndPdf) {
  ServiceSettings s;
  ProposeFirstRunValues(s);
  EXPECT_EQ(s.SMTPSecurity, SmtpSecurity::StartTls);
  EXPECT_EQ(s.ImageFormat, ImageFormat::Pdf);
}

}  // namespace
}  // namespace kestrel
