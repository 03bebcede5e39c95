// Faxes over the SIP line through the whole service: Kamailio on loopback as
// registrar (digest authentication) and proxy, sip-faxsim calling through it
// with SpanDSP's sender, the embedded SQLite store and aiosmtpd. No CAPI is
// there at all: the SIP line takes its calls all the same. Each test waits
// for the caller's exit and then for the mails.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <random>
#include <set>
#include <thread>

#include "media/t30_outcome.h"
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
                      " --local-port " + std::to_string(FreeUdpPort("127.0.0.1")) + " --local-udptl-port " +
                      std::to_string(FreeUdpPort("127.0.0.1")) + " --ident '+49 89 7654321' " + options + " 2>&1");
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

// T.38 every way a call comes to it, and a refusal that keeps the call in
// audio: each fax arrives exact, mailed and journaled, over the transport
// the caller reports. `SipT38` is on (the default): the line asks for T.38
// itself when it hears the caller's tones, so a caller that re-INVITEs too
// may cross it (then the caller's is taken).
struct T38Case {
  const char* name;
  const char* options;
  const char* transport;
};

class SipT38Test : public SipReceptionTest, public ::testing::WithParamInterface<T38Case> {};

TEST_P(SipT38Test, FaxArrivesExactOverTheTransportAgreed) {
  StartRegistered(SipSettings());
  const CRun run = Send(std::string("--from 4989111 ") + GetParam().options);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(std::string("transport=") + GetParam().transport + " "), std::string::npos) << run.out;
  ASSERT_TRUE(WaitForMessages(1)) << testing::PrintToString(Events());
  const std::vector<std::string> captures = FilesEndingIn(ReceivedDir(), ".tif");
  ASSERT_EQ(captures.size(), 1u);
  ExpectCaptureExact(captures[0], 2);
  ASSERT_TRUE(Eventually([&] { return Journal().size() == 1; }));
  EXPECT_EQ(Journal()[0].numberOfPages, 2);
  EXPECT_EQ(Journal()[0].status.find("errors"), std::string::npos) << Journal()[0].status;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SipT38Test,
    ::testing::Values(T38Case{"OfferedFromTheStart", "--t38 start", "t38"},
                      T38Case{"CallersReInvite", "--t38 reinvite", "t38"}, T38Case{"OursOnHearingTheCaller", "", "t38"},
                      T38Case{"OursCrossedByTheCallers", "--on-t38-offer glare", "t38"},
                      T38Case{"OursRefused488", "--on-t38-offer 488", "audio"},
                      T38Case{"OursRefused606", "--on-t38-offer 606", "audio"},
                      T38Case{"UnusualAttributes", "--t38 reinvite --t38-sdp odd-small", "t38"},
                      T38Case{"FivePercentLostBothWays", "--t38 start --t38-sdp odd --loss 5 --seed 11", "t38"}),
    [](const ::testing::TestParamInfo<T38Case>& info) { return std::string(info.param.name); });

// With SipT38 off every call stays in audio: an offer of T.38 alone is
// refused, a caller's re-INVITE to it too, and the fax still arrives.
TEST_F(SipReceptionTest, WithoutT38EveryCallStaysInAudio) {
  ServiceSettings s = SipSettings();
  s.SipT38 = false;
  StartRegistered(s);
  const CRun offered = Send("--from 4989111 --t38 start");
  EXPECT_EQ(offered.status, 3) << offered.out;
  EXPECT_NE(offered.out.find("answered=488"), std::string::npos) << offered.out;
  const CRun reinvited = Send("--from 4989111 --t38 reinvite");
  ASSERT_EQ(reinvited.status, 0) << reinvited.out;
  EXPECT_NE(reinvited.out.find("transport=audio "), std::string::npos) << reinvited.out;
  ASSERT_TRUE(WaitForMessages(1));
  ExpectCaptureExact(FilesEndingIn(ReceivedDir(), ".tif").at(0), 2);
}

// Datagrams of every shape thrown at the line's media ports while a T.38
// fax comes in: the call goes on or ends cleanly, and the next call is
// answered and arrives exact.
TEST_F(SipReceptionTest, MalformedDatagramsDoNotStopTheLine) {
  const ServiceSettings s = SipSettings();
  StartRegistered(s);
  std::atomic<bool> sending{true};
  std::thread noise([&] {
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(5);
    std::vector<std::uint8_t> bytes;
    while (sending) {
      for (int port = 31000; port < 31200 && sending; ++port) {
        bytes.resize(random() % 64);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        // Some look like UDPTL: a sequence number, then lengths that lie.
        if (bytes.size() > 3 && random() % 2) bytes[2] = 0xff;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        (void)::sendto(sock, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      }
      std::this_thread::sleep_for(5ms);  // a steady drizzle, not a flood
    }
    ::close(sock);
  });
  const CRun hit = Send("--from 4989111 --t38 start");
  sending = false;
  noise.join();
  EXPECT_TRUE(hit.status == 0 || hit.status == 1) << hit.out;
  const CRun next = Send("--from 4989222 --t38 start");
  ASSERT_EQ(next.status, 0) << next.out;
  ASSERT_TRUE(Eventually([&] {
    for (const JournalEntry& entry : Journal())
      if (entry.senderNr.find("4989222") != std::string::npos && entry.status.empty()) return true;
    return false;
  }));
  bool exact = false;
  for (const std::string& name : FilesEndingIn(ReceivedDir(), ".tif"))
    if (name.rfind("4989222_", 0) == 0) {
      ExpectCaptureExact(name, 2);
      exact = true;
    }
  EXPECT_TRUE(exact);
}

}  // namespace
}  // namespace kestrel::test
