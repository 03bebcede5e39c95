// The "SIP" page: values typed into its controls come back in the settings,
// the fields below the line's switch follow it, and a registrar, port range
// or peer list its setting does not take is refused with a text naming it.
#include "ui/sip_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/desktop/qt_test_support.h"
#include "tests/ui/page_test.h"

namespace kestrel {
namespace {

using test::CModalScript;

class SipPageTest : public test::CPageTest<CSipPage> {
 protected:
  void Type(const char* name, const char* text) {
    auto* field = Field<QLineEdit>(name);
    field->clear();
    QTest::keyClicks(field, QString::fromLatin1(text));
  }
  void Click(const char* name) {
    auto* box = Field<QCheckBox>(name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  }
};

TEST_F(SipPageTest, ValuesTypedIntoThePageAreStored) {
  page.Load(ServiceSettings{});
  EXPECT_FALSE(Field<QLineEdit>("sipRegistrar")->isEnabled());
  Click("sipEnabled");
  ASSERT_TRUE(Field<QLineEdit>("sipRegistrar")->isEnabled());
  Type("sipRegistrar", "sip.example.net:5080");
  Type("sipUser", "4930123456");
  Type("sipAuthUser", "kestrel");
  Type("sipPassword", "s3cret");
  Field<QComboBox>("sipTransport")->setCurrentIndex(1);
  Type("sipPort", "5070");
  Type("sipRtpPorts", "30000-30099");
  Click("sipT38");
  Type("sipPeers", "192.0.2.0/24, pbx.example.net");
  Type("sipChannels", "8");
  EXPECT_EQ(Field<QLineEdit>("sipPassword")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Field<QComboBox>("sipTransport")->currentText(), "tcp");

  ServiceSettings expected;
  expected.SipEnabled = true;
  expected.SipRegistrar = "sip.example.net:5080";
  expected.SipUser = "4930123456";
  expected.SipAuthUser = "kestrel";
  expected.SipPassword = "s3cret";
  expected.SipTransport = SipTransport::Tcp;
  expected.SipPort = 5070;
  expected.SipRtpPorts = "30000-30099";
  expected.SipT38 = false;
  expected.SipPeers = "192.0.2.0/24, pbx.example.net";
  expected.SipChannels = 8;
  ServiceSettings out;
  ASSERT_TRUE(page.Store(out));
  EXPECT_EQ(out, expected);

  page.Load(expected);
  EXPECT_EQ(Field<QLineEdit>("sipRegistrar")->text(), "sip.example.net:5080");
  Click("sipEnabled");
  EXPECT_FALSE(Field<QLineEdit>("sipPeers")->isEnabled());
  EXPECT_FALSE(Field<QCheckBox>("sipT38")->isEnabled());
}

TEST_F(SipPageTest, ValueItsSettingDoesNotTakeIsRefusedNamingIt) {
  ServiceSettings in;
  in.SipEnabled = true;
  const struct {
    const char* field;
    const char* bad;
    std::string says;
  } cases[] = {
      {"sipRegistrar", "sip example",
       "SipRegistrar holds \"sip example\"; it takes a host, host:port, or nothing (no registration)."},
      {"sipRtpPorts", "20199-20000",
       "SipRtpPorts holds \"20199-20000\"; it takes two ports from 1024 to 65535 joined by - (20000-20199)."},
      {"sipPort", "0", "SipPort holds \"0\"; it takes a number from 1 to 65535."},
      {"sipPeers", "10.0.0.0/33",
       "SipPeers holds \"10.0.0.0/33\"; it takes addresses, CIDRs or host names separated by commas."},
  };
  for (const auto& c : cases) {
    page.Load(in);
    Field<QLineEdit>(c.field)->setText(QString::fromLatin1(c.bad));
    CModalScript script;
    script.AnswerBox();
    ServiceSettings out = in;
    EXPECT_FALSE(page.Store(out)) << c.bad;
    ASSERT_TRUE(script.Done()) << c.bad;
    EXPECT_EQ(script.BoxTexts(), std::vector<std::string>{c.says});
    EXPECT_TRUE(test::WaitUntil([&] { return page.focusWidget() == Field<QLineEdit>(c.field); }, 1000)) << c.bad;
    EXPECT_EQ(out, in) << c.bad << ": a refusal stores nothing";
  }
}

}  // namespace
}  // namespace kestrel
