// kestreld with the SIP line and no CAPI at all: the service runs, registers
// at Kamailio (on loopback, digest authentication), takes a fax from
// sip-faxsim and mails it; kestrel-admin status names the registration and
// is well, and names a registrar that refuses the login and is not.
#include <gtest/gtest.h>

#include "tests/apps/kestreld_process.h"
#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/sip/sip_test_peers.h"

namespace kestrel::test {
namespace {

class KestreldSip : public Kestreld {
 protected:
  void SetUp() override {
    kamailio_ = std::make_unique<CKamailioPeer>(home_.Path(), KamailioSetup{});
    StartMailServer();
  }

  ServiceSettings SipSettings(const std::string& password) {
    ServiceSettings s = BaseSettings(MailPort());
    s.SipEnabled = true;
    s.SipRegistrar = kamailio_->HostPort();
    s.SipUser = "4930555";
    s.SipAuthUser = "faxuser";
    s.SipPassword = password;
    s.SipPort = FreeUdpPort("127.0.0.1");
    s.SipRtpPorts = "32000-32099";
    return s;
  }

  // kestrel-admin status once its line about SIP starts with `start`.
  std::pair<int, std::string> StatusOnceSip(const std::string& start) {
    std::pair<int, std::string> last;
    Eventually(
        [&] {
          last = RunProgram(KESTREL_ADMIN, {"status"});
          return last.second.find("\n" + start) != std::string::npos;
        },
        30s);
    return last;
  }

  std::unique_ptr<CKamailioPeer> kamailio_;
};

TEST_F(KestreldSip, WithoutCapiTheSipLineRegistersAndItsFaxIsMailed) {
  WriteSettings(SipSettings("s3cret-pw"));
  Start();
  const auto [status, out] = StatusOnceSip("SIP: registered as 4930555@" + kamailio_->HostPort() + ", expires in ");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("capi: not answering"), std::string::npos) << out;
  EXPECT_EQ(out.find("s3cret-pw"), std::string::npos);

  ASSERT_TRUE(WriteFaxTiff(home_.File("sent.tif"), {BlockPage(400, 5)}, FaxTiffCoding::kGroup4));
  const CRun call =
      RunCommand(std::string(SIP_FAXSIM_PROGRAM) + " --tiff " + home_.File("sent.tif") + " --sip sip:4930555@" +
                 kamailio_->HostPort() + " --sip-port " + std::to_string(FreeUdpPort("127.0.0.1")) + " --local-port " +
                 std::to_string(FreeUdpPort("127.0.0.1")) + " --from 4989111 2>&1");
  EXPECT_EQ(call.status, 0) << call.out;
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(Parsed(1).headers.at("Subject"), "Fax from 4989111");
}

TEST_F(KestreldSip, ARefusedLoginMakesTheStatusNotWell) {
  WriteSettings(SipSettings("wrong-pw"));
  Start();
  const auto [status, out] = StatusOnceSip("SIP: not registered: ");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("not well: the SIP line takes no calls: not registered: "), std::string::npos) << out;
  EXPECT_EQ(out.find("wrong-pw"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::test
