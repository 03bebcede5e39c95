// Whole faxes over T.38 on loopback: an in-process SpanDSP T.38 sender
// (t38_sender.h) sends a two-page TIFF over UDPTL to CFaxCall, through loss,
// duplicates, reordering and junk; and calls that start in audio with
// sip-faxsim, are heard to be fax, and switch to T.38. libtiff reads both
// files: every page received must be the page sent, pel for pel. The tests
// wait for the sender's end (or the tones), then for the receiver's.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "media/fax_call.h"
#include "media/udp_socket.h"
#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/media/t38_sender.h"
#include "tests/media/udp_ports.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace kestrel {
namespace {

constexpr char kStation[] = "+49 30 1234567";
// Only a broken receiver makes a test wait this long for the tones.
constexpr std::chrono::seconds kToneBound{30};

struct PageTags {
  int cleanFaxData = -1;  // -1: no tag
  std::uint32_t badFaxLines = 0;
};

std::vector<PageTags> ReadPageTags(const std::string& path) {
  std::vector<PageTags> pages;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return pages;
  do {
    PageTags page;
    std::uint16_t clean = 0;
    if (TIFFGetField(tiff, TIFFTAG_CLEANFAXDATA, &clean)) page.cleanFaxData = clean;
    TIFFGetField(tiff, TIFFTAG_BADFAXLINES, &page.badFaxLines);
    pages.push_back(page);
  } while (TIFFReadDirectory(tiff));
  TIFFClose(tiff);
  return pages;
}

struct T38Run {
  FaxCallResult result;
  test::T38SendOutcome sender;
};

class FaxCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sent_ = {test::BlockPage(1000, 1), test::BlockPage(1000, 2)};
    ASSERT_TRUE(test::WriteFaxTiff(dir_.File("sent.tif"), sent_, test::FaxTiffCoding::kGroup4));
    ports_ = test::FreeUdpPorts(3);
    ASSERT_EQ(ports_.size(), 3u);
  }

  FaxCallSetup Setup(std::function<void()> onFaxTones = {}) {
    return {dir_.File("received.tif"), kStation, std::move(onFaxTones)};
  }
  T38Setup T38At(int localPort, const T38Parameters& session = {}) {
    return {localPort, {"127.0.0.1", static_cast<std::uint16_t>(ports_[1])}, session};
  }

  // Sends sent.tif over T.38 from ports_[1] to `localPort` of `call`; the
  // sender's end stands for the caller's BYE, so Hangup follows it.
  T38Run SendT38(CFaxCall& call, int localPort, const test::T38SenderOptions& options) {
    T38Run run;
    auto sender = test::CT38Sender::Start(dir_.File("sent.tif"), ports_[1],
                                          {"127.0.0.1", static_cast<std::uint16_t>(localPort)}, options);
    EXPECT_TRUE(sender) << sender.Describe();
    if (sender) run.sender = (*sender)->Wait();
    call.Hangup();
    run.result = call.Wait();
    EXPECT_TRUE(call.Finished());
    return run;
  }
  T38Run ReceiveT38(const test::T38SenderOptions& options) {
    auto call = CFaxCall::StartT38(Setup(), T38At(ports_[0], options.session));
    EXPECT_TRUE(call) << call.Describe();
    if (!call) return {};
    return SendT38(**call, ports_[0], options);
  }

  void ExpectPagesReceived(const std::vector<test::FaxTiffPage>& expected) {
    const std::vector<test::CTiffPage> pages = test::ReadTiffPages(dir_.File("received.tif"));
    ASSERT_EQ(pages.size(), expected.size());
    for (std::size_t n = 0; n < pages.size(); ++n) {
      EXPECT_EQ(pages[n].width, test::kFaxTiffWidth) << "page " << n + 1;
      EXPECT_EQ(pages[n].height, expected[n].height) << "page " << n + 1;
      EXPECT_TRUE(pages[n].rows == expected[n].rows) << "page " << n + 1 << " differs";
    }
  }

  test::CTempDir dir_;
  std::vector<test::FaxTiffPage> sent_;
  std::vector<int> ports_;  // ours, the sender's, a spare
};

TEST_F(FaxCallTest, T38PagesArriveExactAndClean) {
  const T38Run run = ReceiveT38({});
  EXPECT_TRUE(run.sender.complete) << run.sender.describe;
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  EXPECT_TRUE(run.result.t38);
  EXPECT_EQ(run.result.pages, 2);
  EXPECT_EQ(run.result.remoteStationId, "sim 1");
  EXPECT_GE(run.result.bitRate, 9600);
  EXPECT_TRUE(run.result.pagesWithErrors.empty());
  ExpectPagesReceived(sent_);
  for (const PageTags& page : ReadPageTags(dir_.File("received.tif"))) {
    EXPECT_EQ(page.cleanFaxData, 0);
    EXPECT_EQ(page.badFaxLines, 0u);
  }
}

// What a rough network does to the datagrams, both ways; redundancy and ECM
// between them leave every page exact.
TEST_F(FaxCallTest, T38PagesArriveExactThroughARoughNetwork) {
  struct Case {
    const char* name;
    test::T38SenderOptions options;
  };
  const Case cases[] = {
      {"5 % loss with redundancy", {.lossPercent = 5, .seed = 7}},
      {"junk, duplicates, swapped pairs", {.duplicate = true, .swapPairs = true, .junk = true, .seed = 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const T38Run run = ReceiveT38(c.options);
    EXPECT_TRUE(run.sender.complete) << run.sender.describe;
    EXPECT_TRUE(run.result.complete) << run.result.incomplete;
    EXPECT_EQ(run.sender.lost > 0, c.options.lossPercent > 0) << run.sender.lost;
    ExpectPagesReceived(sent_);
  }
}

// ECM off and no redundancy: image data lost on the way leaves bad rows the
// receiver regenerates; such a page is kept, listed and tagged.
TEST_F(FaxCallTest, PageWithUnrepairedErrorsIsListedAndTagged) {
  test::T38SenderOptions options{.ecm = false, .lossPercent = 3, .imageLossOnly = true, .seed = 5};
  options.session.errorCorrection = T38ErrorCorrection::kNone;
  const T38Run run = ReceiveT38(options);
  ASSERT_FALSE(run.result.pagesWithErrors.empty())
      << "pages " << run.result.pages << ", sender lost " << run.sender.lost << ": " << run.sender.describe;
  const std::vector<PageTags> tags = ReadPageTags(dir_.File("received.tif"));
  ASSERT_EQ(static_cast<int>(tags.size()), run.result.pages);
  for (int page = 1; page <= run.result.pages; ++page) {
    const bool listed = std::count(run.result.pagesWithErrors.begin(), run.result.pagesWithErrors.end(), page) == 1;
    const PageTags& tag = tags[static_cast<std::size_t>(page - 1)];
    EXPECT_EQ(tag.cleanFaxData, listed ? 1 : 0) << "page " << page;
    EXPECT_EQ(tag.badFaxLines > 0, listed) << "page " << page;
  }
}

// Watches for the caller's fax tones as the SIP line would.
class CToneWatch {
 public:
  std::function<void()> Callback() {
    return [this] {
      std::lock_guard lock(mutex_);
      ++heard_;
      signal_.notify_all();
    };
  }
  bool WaitHeard() {
    std::unique_lock lock(mutex_);
    return signal_.wait_for(lock, kToneBound, [this] { return heard_ > 0; });
  }
  int Heard() {
    std::lock_guard lock(mutex_);
    return heard_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  int heard_ = 0;
};

// sip-faxsim calls in audio; once its CNG is heard it is cut off, the call
// switches on its own port, and the T.38 sender sends the fax.
TEST_F(FaxCallTest, AudioCallHeardAsFaxSwitchesToT38AndArrivesExact) {
  CToneWatch tones;
  auto call = CFaxCall::StartAudio(Setup(tones.Callback()), ports_[0],
                                   {"127.0.0.1", static_cast<std::uint16_t>(ports_[1])}, AudioCodec::kPcma);
  ASSERT_TRUE(call) << call.Describe();
  std::vector<std::string> args = {SIP_FAXSIM_PROGRAM,
                                   "--tiff",
                                   dir_.File("sent.tif"),
                                   "--rtp",
                                   "127.0.0.1:" + std::to_string(ports_[0]),
                                   "--local-port",
                                   std::to_string(ports_[1])};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t audioSender = 0;
  ASSERT_EQ(posix_spawn(&audioSender, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  const bool heard = tones.WaitHeard();
  ::kill(audioSender, SIGKILL);
  ::waitpid(audioSender, nullptr, 0);
  ASSERT_TRUE(heard) << "no fax tones heard";

  ASSERT_TRUE((*call)->SwitchToT38(T38At(ports_[0]))) << "switch on the audio's own port";
  const T38Run run = SendT38(**call, ports_[0], {});
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  EXPECT_TRUE(run.result.t38);
  EXPECT_EQ(run.result.pages, 2);
  EXPECT_EQ(tones.Heard(), 1);
  ExpectPagesReceived(sent_);
}

TEST_F(FaxCallTest, PageReceivedInAudioBeforeTheSwitchIsKeptFirst) {
  auto call =
      CFaxCall::StartAudio(Setup(), ports_[0], {"127.0.0.1", static_cast<std::uint16_t>(ports_[1])}, AudioCodec::kPcmu);
  ASSERT_TRUE(call) << call.Describe();
  const test::CRun audio = test::RunCommand(std::string(SIP_FAXSIM_PROGRAM) + " --tiff " + dir_.File("sent.tif") +
                                            " --rtp 127.0.0.1:" + std::to_string(ports_[0]) + " --local-port " +
                                            std::to_string(ports_[1]) + " --codec pcmu --hangup-after-page 1 2>&1");
  ASSERT_EQ(audio.status, 0) << audio.out;
  ASSERT_TRUE((*call)->SwitchToT38(T38At(ports_[2])));
  const T38Run run = SendT38(**call, ports_[2], {});
  EXPECT_TRUE(run.result.complete) << run.result.incomplete;
  EXPECT_EQ(run.result.pages, 3);
  ExpectPagesReceived({sent_[0], sent_[0], sent_[1]});
}

TEST_F(FaxCallTest, SwitchRefusedInT38AfterTheEndAndWithoutItsPort) {
  const AudioEndpoint remote{"127.0.0.1", static_cast<std::uint16_t>(ports_[1])};
  auto t38 = CFaxCall::StartT38(Setup(), T38At(ports_[0]));
  ASSERT_TRUE(t38) << t38.Describe();
  EXPECT_FALSE((*t38)->SwitchToT38(T38At(ports_[2])));
  (*t38)->Hangup();
  EXPECT_EQ((*t38)->Wait().incomplete, kHungUpReason);
  t38->reset();

  auto audio = CFaxCall::StartAudio(Setup(), ports_[0], remote, AudioCodec::kPcma);
  ASSERT_TRUE(audio) << audio.Describe();
  auto holder = CUdpSocket::Open(ports_[2], remote, "test");
  ASSERT_TRUE(holder) << holder.Describe();
  const Status taken = (*audio)->SwitchToT38(T38At(ports_[2]));
  EXPECT_EQ(taken.Ok() ? "" : taken.Error().step, "UDPTL");
  EXPECT_FALSE((*audio)->Finished()) << "the call goes on in audio";
  (*audio)->Hangup();
  const FaxCallResult ended = (*audio)->Wait();
  EXPECT_EQ(ended.incomplete, kHungUpReason);
  EXPECT_FALSE(ended.t38);
  EXPECT_FALSE((*audio)->SwitchToT38(T38At(ports_[0])));
}

}  // namespace
}  // namespace kestrel
