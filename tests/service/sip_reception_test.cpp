// Faxes over the SIP line through the whole service: Kamailio on loopback as
// registrar (digest authentication) and proxy, sip-faxsim calling through it
// with SpanDSP's sender, the embedded SQLite store and aiosmtpd. No CAPI is
// there at all: the SIP line takes its calls all the same. Each test waits
// for the caller's exit and then for the mails.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <set>
#include <thread>

#include "media/audio_fax_call.h"
#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/service/service_fixture.h"
#include "tests/sip/sip_test_peers.h"

namespace kestrel::test {
namespace {

constexpr char kNumber[] = "4930555";

class SipReceptionTest : public ServiceTest {
 protected:
  void SetUp() override {
    kamailio_ = std::make_unique<CKamailioPeer>(home_.Path(), KamailioSetup{});
    sent_ = {BlockPage(600, 1), BlockPage(600, 2)};
    ASSERT_TRUE(WriteFaxTiff(home_.File("sent.tif"), sent_, FaxTiffCoding::kGroup4));
    StartMailServer();
  }

  ServiceSettings SipSettings() {
    ServiceSettings s = BaseSettings(MailPort());
    s.ImageFormat = ImageFormat::Tiff;
    s.SipEnabled = true;
    s.SipRegistrar = kamailio_->HostPort();
    s.SipUser = kNumber;
    s.SipAuthUser = "faxuser";
    s.SipPassword = "s3cret-pw";
    s.SipPort = FreeUdpPort("127.0.0.1");
    s.SipRtpPorts = "31000-31199";
    return s;
  }

  // Starts the service and waits until Kamailio knows the line.
  void StartRegistered(const ServiceSettings& s) {
    StartService(s);
    ASSERT_TRUE(Eventually([&] { return service_->Status().sip.registration.registered; }, 20s))
        << service_->Status().sip.registration.failure << service_->Status().sip.failure;
  }

  // One call of sip-faxsim through Kamailio to `number`; its exit status and output.
  CRun Send(const std::string& options, const std::string& number = kNumber) {
    return RunCommand(std::string(SIP_FAXSIM_PROGRAM) + " --tiff " + home_.File("sent.tif") + " --sip sip:" + number +
                      "@" + kamailio_->HostPort() + " --sip-port " + std::to_string(FreeUdpPort("127.0.0.1")) +
                      " --local-port " + std::to_string(FreeUdpPort("127.0.0.1")) + " --ident '+49 89 7654321' " +
                      options + " 2>&1");
  }

  // The capture the service wrote, read by libtiff: every page as sent.
  void ExpectCaptureExact(const std::string& name, std::size_t pages) {
    const std::vector<CTiffPage> received = ReadTiffPages(ReceivedDir() + name);
    ASSERT_EQ(received.size(), pages) << name;
    for (std::size_t n = 0; n < pages; ++n) EXPECT_TRUE(received[n].rows == sent_[n].rows) << name << " page " << n + 1;
  }

  std::unique_ptr<CKamailioPeer> kamailio_;
  std::vector<FaxTiffPage> sent_;
};

class SipCodecTest : public SipReceptionTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SipCodecTest, FaxArrivesExactAndIsMailedAndJournaled) {
  StartRegistered(SipSettings());
  const CRun run = Send(std::string("--from 4989111 --codec ") + GetParam());
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(WaitForMessages(1));
  const std::vector<std::string> captures = FilesEndingIn(ReceivedDir(), ".tif");
  ASSERT_EQ(captures.size(), 1u);
  EXPECT_EQ(captures[0].rfind("4989111_", 0), 0u) << captures[0];
  ExpectCaptureExact(captures[0], 2);
  const ParsedMail mail = Parsed(1);
  EXPECT_EQ(mail.headers.at("To"), "office@kestrel.test");
  EXPECT_NE(mail.summary.find("4989111"), std::string::npos) << mail.summary;
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 1; }));
  EXPECT_EQ(Journal()[0].numberOfPages, 2);
  EXPECT_EQ(service_->Status().sip.faxesReceived, 1);
}

INSTANTIATE_TEST_SUITE_P(G711, SipCodecTest, ::testing::Values("pcma", "pcmu"));

// The MSN table and the caller-ID rule answer a SIP call as they answer an ISDN one.
TEST_F(SipReceptionTest, NumbersNotServedAndWithheldCallersAreRefused) {
  ServiceSettings s = SipSettings();
  s.All = 0;  // only the MSN table's numbers; it has none
  s.RejectCallerID = true;
  StartRegistered(s);
  struct Case {
    const char* options;
    const char* answer;
  };
  for (const Case& c : {Case{"--from 4989111", "answered=404"}, Case{"--from anonymous", "answered=404"}}) {
    const CRun run = Send(c.options);
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_NE(run.out.find(c.answer), std::string::npos) << run.out;
  }
  ServiceSettings all = s;
  all.All = 1;
  ASSERT_TRUE(service_->ApplySettings(all));
  for (const char* options : {"--from anonymous", "--from 4989111 --privacy on"}) {
    const CRun run = Send(options);
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_NE(run.out.find("answered=603"), std::string::npos) << run.out;
  }
  EXPECT_TRUE(FilesEndingIn(ReceivedDir(), ".tif").empty());
  EXPECT_EQ(StoredMessages(), 0);
}

// A line that cannot start (its port taken) says why and starts once it can,
// without a new start of the service.
TEST_F(SipReceptionTest, ALineThatCannotStartIsTriedAgain) {
  const ServiceSettings s = SipSettings();
  const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(s.SipPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  StartService(s);
  const SipLineStatus failed = service_->Status().sip;
  EXPECT_FALSE(failed.running);
  EXPECT_NE(failed.failure.find(std::to_string(s.SipPort)), std::string::npos) << failed.failure;
  ::close(taken);
  EXPECT_TRUE(Eventually([&] { return service_->Status().sip.registration.registered; }, 30s));
}

// Four callers at once, all from one number in the same second: four
// captures of their own, four mails, four journal rows.
TEST_F(SipReceptionTest, FourCallsAtOnceEachDelivered) {
  StartRegistered(SipSettings());
  std::vector<std::future<CRun>> calls;
  for (int i = 0; i < 4; ++i)
    calls.push_back(std::async(std::launch::async, [this] { return Send("--from 4989111 --codec pcma"); }));
  for (auto& call : calls) {
    const CRun run = call.get();
    EXPECT_EQ(run.status, 0) << run.out;
  }
  ASSERT_TRUE(WaitForMessages(4)) << testing::PrintToString(Events());
  const std::vector<std::string> captures = FilesEndingIn(ReceivedDir(), ".tif");
  ASSERT_EQ(captures.size(), 4u);
  for (const std::string& name : captures) ExpectCaptureExact(name, 2);
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 4; }));
}

// CAPI and SIP side by side: a fax on each line at the same time, each mailed.
TEST_F(SipReceptionTest, AnIsdnFaxAndASipFaxAtOnce) {
  StartSim();
  StartRegistered(SipSettings());
  auto sip = std::async(std::launch::async, [this] { return Send("--from 4989111"); });
  Call("isdn", "0301111111", MakeFax(1), 1);
  const CRun run = sip.get();
  EXPECT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(WaitForMessages(2));
  std::set<std::string> subjects = {Parsed(1).headers.at("Subject"), Parsed(2).headers.at("Subject")};
  EXPECT_EQ(subjects, (std::set<std::string>{"Fax from 0301111111", "Fax from 4989111"}));
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 2; }));
}

// The sender hangs up after page 1: that page is mailed, marked incomplete.
TEST_F(SipReceptionTest, CallCutAfterPageOneMailsThatPageAsIncomplete) {
  StartRegistered(SipSettings());
  const CRun run = Send("--from 4989111 --hangup-after-page 1");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_TRUE(WaitForMessages(1));
  const std::vector<std::string> captures = FilesEndingIn(ReceivedDir(), ".tif");
  ASSERT_EQ(captures.size(), 1u);
  ExpectCaptureExact(captures[0], 1);
  const std::string note = std::string("Incomplete: ") + kHungUpReason;
  EXPECT_NE(Parsed(1).partBytes.at(0).find(note), std::string::npos) << Parsed(1).partBytes.at(0);
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 1; }));
  EXPECT_EQ(Journal()[0].numberOfPages, 1);
  EXPECT_EQ(Journal()[0].status.rfind(note, 0), 0u) << Journal()[0].status;
}

}  // namespace
}  // namespace kestrel::test
