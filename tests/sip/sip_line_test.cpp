// The SIP line against Debian's Kamailio on loopback (registrar with digest
// authentication, proxy) and a Python caller: registration and its upkeep,
// the answers to calls (200 with the G.711 answer, 404/603/486 from the
// handler, 486 for the channels, 403 for strangers, 488 for T.38), and a
// burst of malformed datagrams before a good call.
#include "sip/sip_line.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/sip/sip_test_peers.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::CKamailioPeer;
using test::CTempDir;
using test::RunSipCaller;

constexpr auto kRegistrationLimit = 20s;

// The service's side, kept in the test: answers every call with `answer` and
// remembers what it was offered and told.
class CRecordingHandler : public ISipCallHandler {
 public:
  SipAnswer answer = SipAnswer::kAccept;

  SipAnswer Offer(const SipCallOffer& offer, int) override {
    std::lock_guard lock(mutex_);
    offers_.push_back(offer);
    return answer;
  }
  void Answered(int callId, int localRtpPort, AudioCodec codec) override {
    std::lock_guard lock(mutex_);
    answered_ = callId;
    rtpPort_ = localRtpPort;
    codec_ = codec;
    changed_.notify_all();
  }
  void Ended(int) override {
    std::lock_guard lock(mutex_);
    ++ended_;
    changed_.notify_all();
  }
  std::vector<SipCallOffer> Offers() {
    std::lock_guard lock(mutex_);
    return offers_;
  }
  int RtpPort() {
    std::lock_guard lock(mutex_);
    return rtpPort_;
  }
  // The id of the call answered, once one is; 0 after 10 s without.
  int WaitAnswered() {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return answered_ != 0; });
    return answered_;
  }
  bool WaitEnded(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return ended_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SipCallOffer> offers_;
  int answered_ = 0;
  int rtpPort_ = 0;
  AudioCodec codec_ = AudioCodec::kPcmu;
  int ended_ = 0;
};

class SipLineTest : public ::testing::Test {
 protected:
  void StartLine(test::KamailioSetup setup, SipLineTiming timing = {}, int channels = 4) {
    kamailio_ = std::make_unique<CKamailioPeer>(dir_.Path(), setup);
    settings_.SipEnabled = true;
    settings_.SipRegistrar = kamailio_->HostPort();
    settings_.SipUser = "faxuser";
    settings_.SipPassword = setup.password;
    settings_.SipPort = test::FreeUdpPort("127.0.0.1");
    settings_.SipChannels = channels;
    ASSERT_TRUE(line_.Start(settings_, handler_, timing)) << "start";
  }
  std::string Registered() {
    const RegistrationState s = line_.WaitForRegistration(0, kRegistrationLimit);
    return s.registered ? "" : "not registered: " + s.failure;
  }
  // A call to `user` through Kamailio with the caller's `extra` options.
  std::string CallThroughRegistrar(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--target", kamailio_->HostPort(),  "--ruri", "sip:faxuser@127.0.0.2",
                                     "--to-uri", "sip:faxuser@127.0.0.2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSipCaller(args);
  }

  CTempDir dir_;
  std::unique_ptr<CKamailioPeer> kamailio_;
  ServiceSettings settings_;
  CRecordingHandler handler_;
  CSipLine line_;  // after the peers: stopped first
};

TEST_F(SipLineTest, RefreshesBeforeTheGrantedExpiryAndComesBackAfterTheRegistrarRestarts) {
  StartLine({.maxExpires = 3});  // asked for an hour, granted three seconds
  ASSERT_EQ(Registered(), "");
  const RegistrationState first = line_.Registration();
  EXPECT_LE(first.expiresIn, 3);
  EXPECT_NE(kamailio_->Bindings("faxuser"), "");
  EXPECT_GT(line_.WaitForRegistration(first.registrations, 5s).registrations, first.registrations) << "refreshed";

  kamailio_->Restart();  // keeps its bindings in memory only: we are forgotten
  const std::uint64_t before = line_.Registration().registrations;
  const RegistrationState back = line_.WaitForRegistration(before, 3s + 60s);
  EXPECT_GT(back.registrations, before);
  EXPECT_NE(kamailio_->Bindings("faxuser"), "");
}

// Over TCP, where a registrar that is not there refuses at once: the line
// tries again after its own back-off (at most five seconds here), not after
// the stack's half minute or more.
TEST_F(SipLineTest, ARegistrarThatIsNotThereYetIsTriedAgainAfterTheBackOff) {
  const int port = test::FreeUdpPort("127.0.0.2");
  settings_.SipRegistrar = "127.0.0.2:" + std::to_string(port);
  settings_.SipTransport = SipTransport::Tcp;
  settings_.SipUser = "faxuser";
  settings_.SipPassword = test::KamailioSetup{}.password;
  settings_.SipPort = test::FreeUdpPort("127.0.0.1");
  ASSERT_TRUE(line_.Start(settings_, handler_, {.longestBackoff = 5}));
  const RegistrationState down = line_.WaitForRegistration(0, 10s);
  ASSERT_FALSE(down.registered);
  ASSERT_NE(down.failure, "");
  kamailio_ = std::make_unique<CKamailioPeer>(dir_.Path(), test::KamailioSetup{.port = port});
  EXPECT_TRUE(line_.WaitForRegistration(0, 5s + 5s).registered);
  EXPECT_NE(kamailio_->Bindings("faxuser"), "");
}

TEST_F(SipLineTest, IntervalTooBriefIsAskedAgainWithMinExpires) {
  StartLine({.minExpires = 40, .maxExpires = 60}, {.askedExpiry = 10});
  ASSERT_EQ(Registered(), "");
  EXPECT_GT(line_.Registration().expiresIn, 30);
  EXPECT_EQ(kamailio_->Statistic("rejected_regs"), 1) << "the first REGISTER got its 423";
}

TEST_F(SipLineTest, WrongPasswordIsAFailureTheStateNames) {
  test::KamailioSetup setup;
  kamailio_ = std::make_unique<CKamailioPeer>(dir_.Path(), setup);
  settings_.SipRegistrar = kamailio_->HostPort();
  settings_.SipUser = "faxuser";
  settings_.SipPassword = "wrong";
  settings_.SipPort = test::FreeUdpPort("127.0.0.1");
  ASSERT_TRUE(line_.Start(settings_, handler_));
  const RegistrationState s = line_.WaitForRegistration(0, kRegistrationLimit);
  EXPECT_FALSE(s.registered);
  EXPECT_EQ(s.failure.substr(0, 3), "401") << s.failure;
}

TEST_F(SipLineTest, CallIsAnsweredWithG711InTheOfferedOrderAndStaysInAudioOnT38) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const std::string out = CallThroughRegistrar({"--codecs", "0 8", "--pcpi", "<sip:+4930777@127.0.0.2>", "--pai",
                                                "<sip:+4930555123@127.0.0.2>", "--reinvite-t38", "--bye"});
  EXPECT_NE(out.find("STATUS 200\n"), std::string::npos) << out;
  EXPECT_NE(out.find("SDP m=audio " + std::to_string(handler_.RtpPort()) + " RTP/AVP 0 8"), std::string::npos) << out;
  EXPECT_NE(out.find("SDP c=IN IP4 127.0.0.1"), std::string::npos) << out;
  EXPECT_NE(out.find("STATUS 488\nSTATUS 200\n"), std::string::npos) << "re-INVITE refused, BYE taken: " << out;
  ASSERT_EQ(handler_.Offers().size(), 1u);
  const SipCallOffer offer = handler_.Offers()[0];
  EXPECT_EQ(offer.dialled, "+4930777") << "the Request-URI is our Contact: P-Called-Party-ID";
  EXPECT_EQ(offer.caller, "+4930555123");
  EXPECT_EQ(offer.remoteAddress, "127.0.0.2");
  EXPECT_EQ(offer.media.port, 4000);
  EXPECT_EQ(offer.codecs, (std::vector<AudioCodec>{AudioCodec::kPcmu, AudioCodec::kPcma}));
  EXPECT_TRUE(handler_.WaitEnded(1));
  EXPECT_EQ(line_.HeldChannels(), 0);
}

TEST_F(SipLineTest, OurHangupSendsByeAndFreesTheChannel) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  std::string out;
  std::thread caller([&] { out = CallThroughRegistrar({"--await-bye"}); });
  const int callId = handler_.WaitAnswered();
  if (callId != 0) line_.Hangup(callId);
  caller.join();
  ASSERT_NE(callId, 0);
  EXPECT_NE(out.find("STATUS 200\n"), std::string::npos) << out;
  EXPECT_NE(out.find("BYE\n"), std::string::npos) << out;
  EXPECT_EQ(line_.HeldChannels(), 0);
}

TEST_F(SipLineTest, HandlerRefusalsBecomeTheirSipAnswers) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const struct {
    SipAnswer answer;
    const char* status;
  } cases[] = {{SipAnswer::kNotServed, "STATUS 404"},
               {SipAnswer::kCallerRequired, "STATUS 603"},
               {SipAnswer::kBusy, "STATUS 486"}};
  for (const auto& c : cases) {
    handler_.answer = c.answer;
    EXPECT_NE(CallThroughRegistrar({"--from-uri", "sip:anonymous@anonymous.invalid"}).find(c.status), std::string::npos)
        << c.status;
  }
  ASSERT_EQ(handler_.Offers().size(), 3u);
  EXPECT_TRUE(handler_.Offers()[0].callerWithheld);
  EXPECT_EQ(line_.HeldChannels(), 0);
}

TEST_F(SipLineTest, CallsBeyondTheChannelsAreBusyAndStrangersForbidden) {
  StartLine({}, {}, 1);
  ASSERT_EQ(Registered(), "");
  ASSERT_NE(CallThroughRegistrar().find("STATUS 200"), std::string::npos);
  EXPECT_NE(CallThroughRegistrar().find("STATUS 486"), std::string::npos);
  const std::string direct = "127.0.0.1:" + std::to_string(settings_.SipPort);
  EXPECT_NE(RunSipCaller({"--target", direct, "--bind", "127.0.0.3", "--ruri", "sip:faxuser@" + direct, "--to-uri",
                          "sip:faxuser@" + direct})
                .find("STATUS 403"),
            std::string::npos);
  EXPECT_EQ(handler_.Offers().size(), 1u) << "neither reached the handler";
}

// A proxy's health check from the registrar's address is answered; the same
// from a stranger is not.
TEST_F(SipLineTest, OptionsAreAnsweredToAllowedSourcesOnly) {
  StartLine({});
  const std::string direct = "127.0.0.1:" + std::to_string(settings_.SipPort);
  const struct {
    const char* from;
    const char* answer;
  } cases[] = {{"127.0.0.2",
                "STATUS 200\nALLOW: INVITE, ACK, BYE, CANCEL, OPTIONS\nACCEPT: application/sdp\n"},
               {"127.0.0.3", "STATUS 403\n"}};
  for (const auto& c : cases)
    EXPECT_EQ(RunSipCaller({"--options", "--target", direct, "--bind", c.from, "--ruri", "sip:" + direct, "--to-uri",
                            "sip:" + direct}),
              c.answer)
        << c.from;
}

TEST_F(SipLineTest, MalformedDatagramsAreDroppedAndTheNextCallAnswered) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const std::string line = "127.0.0.1:" + std::to_string(settings_.SipPort);
  EXPECT_NE(CallThroughRegistrar({"--garbage", "300", "--garbage-to", line}).find("STATUS 200"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
