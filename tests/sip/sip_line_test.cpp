// The SIP line against Debian's Kamailio on loopback (registrar with digest
// authentication, proxy) and a Python caller: registration and its upkeep,
// the answers to calls (200 with the G.711 answer, 404/603/486 from the
// handler, 486 for the channels, 403 for strangers), OPTIONS, T.38 (offered
// alone, by the caller's re-INVITE with odd but valid SDP, by ours, refused,
// crossing), and a burst of malformed datagrams before a good call.
#include "sip/sip_line.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

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
  bool takeMedia = true;  // what MediaChanged says

  SipAnswer Offer(const SipCallOffer& offer, int) override {
    std::lock_guard lock(mutex_);
    offers_.push_back(offer);
    return answer;
  }
  void Answered(int callId, const SipMedia& media) override {
    std::lock_guard lock(mutex_);
    answered_ = callId;
    answeredMedia_ = media;
    changed_.notify_all();
  }
  bool MediaChanged(int, const SipMedia& media) override {
    std::lock_guard lock(mutex_);
    changes_.push_back(media);
    changed_.notify_all();
    return takeMedia;
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
  // The next call starts afresh.
  void Forget() {
    std::lock_guard lock(mutex_);
    answered_ = 0;
    changes_.clear();
  }
  SipMedia AnsweredMedia() {
    std::lock_guard lock(mutex_);
    return answeredMedia_;
  }
  int RtpPort() { return AnsweredMedia().localPort; }
  // The media changes so far, once there are `count` (fewer after 10 s).
  std::vector<SipMedia> WaitChanges(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return changes_.size() >= count; });
    return changes_;
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
  SipMedia answeredMedia_;
  std::vector<SipMedia> changes_;
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

TEST_F(SipLineTest, CallIsAnsweredWithG711InTheOfferedOrderAndStaysInAudioWhenTheHandlerKeepsIt) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  handler_.takeMedia = false;
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
  } cases[] = {{"127.0.0.2", "STATUS 200\nALLOW: INVITE, ACK, BYE, CANCEL, OPTIONS\nACCEPT: application/sdp\n"},
               {"127.0.0.3", "STATUS 403\n"}};
  for (const auto& c : cases)
    EXPECT_EQ(RunSipCaller({"--options", "--target", direct, "--bind", c.from, "--ruri", "sip:" + direct, "--to-uri",
                            "sip:" + direct}),
              c.answer)
        << c.from;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The image line the line answers, whatever the offer stated.
std::string OurImageLines(int port, const char* correction = "t38UDPRedundancy") {
  return "SDP m=image " + std::to_string(port) +
         " udptl t38\nSDP a=T38FaxVersion:0\nSDP a=T38MaxBitRate:14400\n"
         "SDP a=T38FaxRateManagement:transferredTCF\nSDP a=T38FaxMaxBuffer:1800\nSDP a=T38FaxMaxDatagram:1400\n"
         "SDP a=T38FaxUdpEC:" +
         correction + "\n";
}

TEST_F(SipLineTest, InviteOfferingOnlyT38IsAnsweredWithT38) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const std::string out = CallThroughRegistrar(
      {"--offer-image", "--image-sdp",
       "m=image 4002 udptl t38|a=T38FaxVersion:1|a=T38MaxBitRate:9600|a=T38FaxUdpEC:t38UDPRedundancy", "--bye"});
  const SipMedia media = handler_.AnsweredMedia();
  EXPECT_EQ(media.kind, SipMediaKind::kT38);
  EXPECT_NE(out.find("STATUS 200\n"), std::string::npos) << out;
  EXPECT_NE(out.find(OurImageLines(media.localPort)), std::string::npos) << out;
  EXPECT_EQ(media.remote.port, 4002);
  EXPECT_EQ(media.t38.version, 0) << "the lower version";
  EXPECT_EQ(media.t38.maxBitRate, 9600);
  ASSERT_EQ(handler_.Offers().size(), 1u);
  EXPECT_TRUE(handler_.Offers()[0].t38.has_value());
  EXPECT_TRUE(handler_.WaitEnded(1));
}

// A caller's re-INVITE to T.38, in the shapes peers write it: each answered
// with ours, the handler told the session agreed.
TEST_F(SipLineTest, CallersReInviteToT38IsAnsweredWithOursAndTheAgreedParametersPassedOn) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const struct {
    const char* image;
    const char* correction;  // answered
    int version, maxBitRate, maxDatagram;
    bool transferredTcf;
    T38ErrorCorrection agreed;
    const char* remote;
  } cases[] = {
      // redundancy asked, a newer version: the lower answered
      {"m=image 4002 udptl t38|a=T38FaxVersion:3|a=T38MaxBitRate:14400|a=T38FaxRateManagement:transferredTCF|"
       "a=T38FaxMaxBuffer:262|a=T38FaxMaxDatagram:300|a=T38FaxUdpEC:t38UDPRedundancy",
       "t38UDPRedundancy", 0, 14400, 300, true, T38ErrorCorrection::kRedundancy, "127.0.0.1"},
      // any order, flags, unknown attributes, FEC asked
      {"m=image 4002 udptl t38|a=T38FaxUdpEC:t38UDPFEC|a=T38FaxFillBitRemoval|a=T38FaxTranscodingMMR:0|"
       "a=X-vendor:anything at all|a=T38FaxMaxDatagram:200|a=T38FaxVersion:0",
       "t38UDPRedundancy", 0, 14400, 200, true, T38ErrorCorrection::kRedundancy, "127.0.0.1"},
      // the address on the line itself, no error correction, another rate, names in other case, localTCF
      {"m=image 4002 udptl t38|c=IN IP4 127.0.0.9|a=t38maxbitrate:33600|a=T38FaxRateManagement:localTCF|"
       "a=T38FaxUdpEC:t38UDPNoEC",
       "t38UDPNoEC", 0, 14400, 0, true, T38ErrorCorrection::kNone, "127.0.0.9"},
      // values out of range count as not stated; the audio line kept, declined
      {"m=audio 0 RTP/AVP 8|m=image 4002 udptl t38|a=T38FaxVersion:x|a=T38FaxMaxDatagram:99999999", "t38UDPRedundancy",
       0, 14400, 0, true, T38ErrorCorrection::kRedundancy, "127.0.0.1"},
  };
  std::size_t changes = 0;
  for (const auto& c : cases) {
    const std::string out = CallThroughRegistrar({"--reinvite-t38", "--image-sdp", c.image, "--bye"});
    const std::vector<SipMedia> seen = handler_.WaitChanges(++changes);
    ASSERT_EQ(seen.size(), changes) << c.image << "\n" << out;
    const SipMedia& m = seen.back();
    EXPECT_EQ(Count(out, "STATUS 200\n"), 3) << c.image << "\n" << out;
    EXPECT_NE(out.find(OurImageLines(m.localPort, c.correction)), std::string::npos) << c.image << "\n" << out;
    EXPECT_EQ(m.kind, SipMediaKind::kT38);
    EXPECT_EQ((std::tuple{m.t38.version, m.t38.maxBitRate, m.t38.maxDatagram, m.t38.transferredTcf,
                          m.t38.errorCorrection, m.remote.address, m.remote.port}),
              (std::tuple{c.version, c.maxBitRate, c.maxDatagram, c.transferredTcf, c.agreed, std::string(c.remote),
                          std::uint16_t{4002}}))
        << c.image;
  }
  EXPECT_NE(CallThroughRegistrar({"--reinvite-t38", "--image-sdp", "m=audio 0 RTP/AVP 8|m=image 4002 udptl t38"})
                .find("SDP m=audio 0 RTP/AVP 8\nSDP m=image "),
            std::string::npos)
      << "the lines in the offer's order";
  EXPECT_TRUE(handler_.WaitEnded(static_cast<int>(changes)));
  EXPECT_EQ(line_.HeldChannels(), 1) << "the last call still up";
}

// Our re-INVITE: a 200 with T.38 moves the call; a refusal leaves it in
// audio, and a second request for that call sends nothing.
TEST_F(SipLineTest, OurReInviteMovesTheCallOnTwoHundredAndIsNotSentAgainAfterARefusal) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  for (const int code : {200, 488, 415, 606}) {
    handler_.Forget();
    test::CSipCaller caller({"--target", kamailio_->HostPort(), "--ruri", "sip:faxuser@127.0.0.2", "--to-uri",
                             "sip:faxuser@127.0.0.2", "--answer-reinvite", std::to_string(code), "--options-in-dialog",
                             "--await-bye"});
    const int callId = handler_.WaitAnswered();
    ASSERT_NE(callId, 0) << code;
    line_.RequestT38(callId);
    ASSERT_TRUE(caller.WaitFor("READY")) << code << ": the answer to ours was taken before the OPTIONS";
    line_.RequestT38(callId);
    line_.Hangup(callId);
    const std::string out = caller.Finish();
    EXPECT_NE(out.find("REINVITE\nRSDP v=0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("RSDP m=image "), std::string::npos) << out;
    EXPECT_NE(out.find("RSDP a=T38FaxUdpEC:t38UDPRedundancy"), std::string::npos) << out;
    EXPECT_EQ(out.find("REINVITE", out.find("READY")), std::string::npos) << code << ": sent again\n" << out;
    EXPECT_NE(out.find("BYE\n"), std::string::npos) << out;
    const std::vector<SipMedia> changes = handler_.WaitChanges(code == 200 ? 1 : 0);
    ASSERT_EQ(changes.size(), code == 200 ? 1u : 0u) << code;
    if (code == 200) {
      EXPECT_EQ(changes[0].t38.maxDatagram, 320) << "the caller's answer passed on";
    }
  }
}

// Both sides re-INVITE at once: the caller's gets 491 while ours is pending,
// ours gets 491 from the caller, and the caller's own re-INVITE coming
// before our wait is over is taken: its parameters, and ours not sent again.
TEST_F(SipLineTest, CrossingReInvitesEndWithTheCallersTaken) {
  StartLine({}, {.shortestGlareWait = 1500, .longestGlareWait = 1500});
  ASSERT_EQ(Registered(), "");
  test::CSipCaller caller({"--target", kamailio_->HostPort(), "--ruri", "sip:faxuser@127.0.0.2", "--to-uri",
                           "sip:faxuser@127.0.0.2", "--answer-reinvite", "491", "--cross", "--image-sdp",
                           "m=image 4002 udptl t38|a=T38FaxMaxDatagram:272", "--await-bye"});
  const int callId = handler_.WaitAnswered();
  ASSERT_NE(callId, 0);
  line_.RequestT38(callId);
  const std::vector<SipMedia> changes = handler_.WaitChanges(1);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].t38.maxDatagram, 272) << "the caller's own";
  line_.Hangup(callId);
  const std::string out = caller.Finish();
  EXPECT_NE(out.find("REINVITE\n"), std::string::npos) << out;
  EXPECT_NE(out.find("STATUS 491\nSTATUS 200\n"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "REINVITE\n"), 1) << out;
}

TEST_F(SipLineTest, MalformedDatagramsAreDroppedAndTheNextCallAnswered) {
  StartLine({});
  ASSERT_EQ(Registered(), "");
  const std::string line = "127.0.0.1:" + std::to_string(settings_.SipPort);
  EXPECT_NE(CallThroughRegistrar({"--garbage", "300", "--garbage-to", line}).find("STATUS 200"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
