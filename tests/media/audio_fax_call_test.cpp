// Whole faxes over RTP on loopback: sip-faxsim sends a two-page TIFF with
// SpanDSP's sender, CAudioFaxCall receives it, and libtiff reads both files:
// every page received must be the page sent, pel for pel. The tests wait for
// the sender's exit and then for the receiver's end.
#include <gtest/gtest.h>

#include "media/audio_fax_call.h"
#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/media/udp_ports.h"
#include "tests/support/temp_dir.h"

namespace kestrel {
namespace {

struct FaxRun {
  AudioFaxResult result;
  test::CRun sender;
};

class AudioFaxCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sent_ = {test::BlockPage(1000, 1), test::BlockPage(1000, 2)};
    ASSERT_TRUE(test::WriteFaxTiff(dir_.File("sent.tif"), sent_, test::FaxTiffCoding::kGroup4));
  }

  // Sends sent.tif with the sender's `options`; a sender told to hang up
  // stands for the peer's BYE, so Hangup follows its exit.
  FaxRun Send(AudioCodec codec, const std::string& options = "", bool hangup = false) {
    const std::vector<int> ports = test::FreeUdpPorts(2);
    const int receiverPort = ports.at(0);
    const int senderPort = ports.at(1);
    AudioFaxSetup setup{receiverPort,
                        {"127.0.0.1", static_cast<std::uint16_t>(senderPort)},
                        codec,
                        dir_.File("received.tif"),
                        "+49 30 1234567"};
    auto call = CAudioFaxCall::Start(setup);
    EXPECT_TRUE(call) << call.Describe();
    if (!call) return {};
    FaxRun run;
    run.sender = test::RunCommand(std::string(SIP_FAXSIM_PROGRAM) + " --tiff " + dir_.File("sent.tif") +
                                  " --rtp 127.0.0.1:" + std::to_string(receiverPort) + " --local-port " +
                                  std::to_string(senderPort) + " --ident 'sim 1' --codec " +
                                  (codec == AudioCodec::kPcma ? "pcma " : "pcmu ") + options + " 2>&1");
    if (hangup) (*call)->Hangup();
    run.result = (*call)->Wait();
    EXPECT_TRUE((*call)->Finished());
    return run;
  }

  void ExpectPagesReceived(std::size_t count) {
    const std::vector<test::CTiffPage> pages = test::ReadTiffPages(dir_.File("received.tif"));
    ASSERT_EQ(pages.size(), count);
    for (std::size_t n = 0; n < count; ++n) {
      EXPECT_EQ(pages[n].width, test::kFaxTiffWidth) << "page " << n + 1;
      EXPECT_EQ(pages[n].height, sent_[n].height) << "page " << n + 1;
      EXPECT_TRUE(pages[n].rows == sent_[n].rows) << "page " << n + 1 << " differs";
    }
  }

  test::CTempDir dir_;
  std::vector<test::FaxTiffPage> sent_;
};

class AudioFaxCodecTest : public AudioFaxCallTest, public ::testing::WithParamInterface<AudioCodec> {};

TEST_P(AudioFaxCodecTest, PagesArriveExact) {
  const FaxRun run = Send(GetParam());
  EXPECT_EQ(run.sender.status, 0) << run.sender.out;
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  EXPECT_EQ(run.result.pages, 2);
  EXPECT_EQ(run.result.remoteStationId, "sim 1");
  EXPECT_GE(run.result.bitRate, 9600);
  ExpectPagesReceived(2);
}

INSTANTIATE_TEST_SUITE_P(G711, AudioFaxCodecTest, ::testing::Values(AudioCodec::kPcma, AudioCodec::kPcmu),
                         [](const auto& info) { return info.param == AudioCodec::kPcma ? "Pcma" : "Pcmu"; });

TEST_F(AudioFaxCallTest, OnePercentLossOfPageDataStillExactWithEcm) {
  const FaxRun run = Send(AudioCodec::kPcma, "--loss 1 --seed 3");
  EXPECT_EQ(run.sender.status, 0) << run.sender.out;
  EXPECT_EQ(run.sender.out.find("dropped=0 "), std::string::npos) << "nothing was lost: " << run.sender.out;
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  ExpectPagesReceived(2);
}

TEST_F(AudioFaxCallTest, CallCutAfterPageOneKeepsPageOne) {
  const FaxRun run = Send(AudioCodec::kPcmu, "--hangup-after-page 1", true);
  EXPECT_EQ(run.sender.status, 0) << run.sender.out;
  EXPECT_FALSE(run.result.complete);
  EXPECT_EQ(run.result.incomplete, kHungUpReason);
  EXPECT_EQ(run.result.pages, 1);
  ExpectPagesReceived(1);
}

TEST_F(AudioFaxCallTest, HangupAfterTheLastPageConfirmedIsComplete) {
  const FaxRun run = Send(AudioCodec::kPcma, "--hangup-after-page 2", true);
  EXPECT_EQ(run.sender.status, 0) << run.sender.out;
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  EXPECT_EQ(run.result.pages, 2);
  ExpectPagesReceived(2);
}

}  // namespace
}  // namespace kestrel
