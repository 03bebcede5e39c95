// sip-faxsim's T.38 sending, before any Kestrel receiver takes it: its UDPTL
// framing by itself, and whole faxes sent with --udptl into SpanDSP's T.38
// terminal answering on loopback (over the same UDPTL code, here only the
// means of receiving), every page received compared pel for pel with the
// page sent. Each run waits for the sender's exit, then for the receiver's
// T.30 to end (or its line to fall silent).
#include <gtest/gtest.h>
#include <spandsp.h>

#include <thread>

#include "tests/convert/command_output.h"
#include "tests/convert/fax_tiff_writer.h"
#include "tests/convert/image_readers.h"
#include "tests/sip/sip_test_peers.h"
#include "tests/support/temp_dir.h"
#include "tools/sip-faxsim/udptl_channel.h"

namespace kestrel::faxsim {
namespace {

int FreeUdpPort() { return test::FreeUdpPort("127.0.0.1"); }

TEST(UdptlFraming, EveryCutOfADatagramIsRefused) {
  std::size_t carried = 0;
  const std::vector<std::uint8_t> ifp(200, 0x5A);  // a two-byte length
  const std::vector<std::uint8_t> whole = EncodeUdptl(0xBEEF, ifp, {{1, 2, 3}, {4}}, 3, 0, carried);
  ASSERT_EQ(carried, 2u);
  const std::optional<UdptlDatagram> decoded = DecodeUdptl(whole);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->sequence, 0xBEEF);
  EXPECT_EQ(decoded->primary, ifp);
  EXPECT_EQ(decoded->earlier, (std::vector<std::vector<std::uint8_t>>{{1, 2, 3}, {4}}));
  for (std::size_t cut = 0; cut < whole.size(); ++cut)
    EXPECT_FALSE(DecodeUdptl(std::span(whole).first(cut))) << "cut at " << cut;
}

TEST(UdptlFraming, RedundancyStaysWithinTheLargestDatagram) {
  const std::vector<std::vector<std::uint8_t>> earlier(3, std::vector<std::uint8_t>(40, 1));
  for (const std::size_t limit : {0u, 60u, 100u, 140u}) {
    std::size_t carried = 0;
    const std::vector<std::uint8_t> datagram =
        EncodeUdptl(7, std::vector<std::uint8_t>(40, 2), earlier, 3, limit, carried);
    if (limit != 0) {
      EXPECT_LE(datagram.size(), limit);
    }
    EXPECT_EQ(carried, limit == 0 ? 3u : (limit - 45) / 41) << "limit " << limit;
    EXPECT_EQ(DecodeUdptl(datagram)->earlier.size(), carried);
  }
}

// SpanDSP's T.38 terminal answering, on a thread, writing received.tif.
class CT38Receiver {
 public:
  CT38Receiver(const std::string& tiff, const UdptlSetup& setup) {
    auto opened = CUdptlChannel::Open(setup);
    EXPECT_TRUE(opened) << opened.Describe();
    channel_ = std::move(*opened);
    terminal_ = t38_terminal_init(nullptr, 0, Send, channel_.get());
    t30_state_t* t30 = t38_terminal_get_t30_state(terminal_);
    t30_set_ecm_capability(t30, 1);
    t30_set_supported_compressions(
        t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION);
    t30_set_rx_file(t30, tiff.c_str(), -1);
    t30_set_phase_e_handler(t30, Ended, this);
    thread_ = std::thread([this] { Run(); });
  }
  ~CT38Receiver() {
    if (thread_.joinable()) thread_.join();
    t38_terminal_free(terminal_);
  }
  // Waits for T.30 to end; its completion code.
  int Wait() {
    thread_.join();
    return completion_;
  }
  const UdptlCounts& Counts() const { return channel_->Counts(); }

 private:
  static int Send(t38_core_state_t*, void* user, const std::uint8_t* buf, int len, int count) {
    static_cast<CUdptlChannel*>(user)->Send({buf, static_cast<std::size_t>(len)}, count);
    return 0;
  }
  static void Ended(t30_state_t*, void* user, int completion) {
    auto* self = static_cast<CT38Receiver*>(user);
    self->completion_ = completion;
    self->ended_ = true;
  }
  void Run() {
    t38_core_state_t* core = t38_terminal_get_t38_core_state(terminal_);
    auto next = std::chrono::steady_clock::now();
    while (!ended_ && std::chrono::steady_clock::now() - channel_->LastHeard() < std::chrono::seconds(20)) {
      channel_->Receive(next, [core](std::uint16_t sequence, std::span<const std::uint8_t> ifp) {
        t38_core_rx_ifp_packet(core, ifp.data(), static_cast<int>(ifp.size()), sequence);
      });
      if (std::chrono::steady_clock::now() >= next) {
        t38_terminal_send_timeout(terminal_, 160);
        next += std::chrono::milliseconds(20);
      }
    }
  }

  std::unique_ptr<CUdptlChannel> channel_;
  t38_terminal_state_t* terminal_ = nullptr;
  int completion_ = -1;
  bool ended_ = false;
  std::thread thread_;
};

struct T38Case {
  const char* name;
  std::string options;
  std::size_t receiverRedundancy;
  std::size_t largestDatagram;  // the receiver's stated limit; 0: none
  bool lossy;
};

void PrintTo(const T38Case& c, std::ostream* out) { *out << c.name; }

class T38SendTest : public ::testing::TestWithParam<T38Case> {};

TEST_P(T38SendTest, PagesArriveExact) {
  test::CTempDir dir;
  const std::vector<test::FaxTiffPage> sent = {test::BlockPage(1000, 1), test::BlockPage(1000, 2)};
  ASSERT_TRUE(test::WriteFaxTiff(dir.File("sent.tif"), sent, test::FaxTiffCoding::kGroup4));
  const int receiverPort = FreeUdpPort();
  const int senderPort = FreeUdpPort();
  UdptlSetup setup;
  setup.localPort = receiverPort;
  setup.remote = {"127.0.0.1", static_cast<std::uint16_t>(senderPort)};
  setup.redundancy = GetParam().receiverRedundancy;
  CT38Receiver receiver(dir.File("received.tif"), setup);
  const std::string limit =
      GetParam().largestDatagram ? " --max-datagram " + std::to_string(GetParam().largestDatagram) : "";
  const test::CRun run = test::RunCommand(std::string(SIP_FAXSIM_PROGRAM) + " --tiff " + dir.File("sent.tif") +
                                          " --udptl 127.0.0.1:" + std::to_string(receiverPort) + " --local-port " +
                                          std::to_string(senderPort) + limit + " " + GetParam().options + " 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(receiver.Wait(), T30_ERR_OK) << run.out;
  EXPECT_NE(run.out.find("pages=2 "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" transport=t38 "), std::string::npos) << run.out;
  if (GetParam().lossy) {
    EXPECT_EQ(run.out.find(" recovered=0 "), std::string::npos) << "redundancy repaired nothing: " << run.out;
    EXPECT_GT(receiver.Counts().recovered, 0u) << "the receiver repaired nothing";
  }
  if (GetParam().largestDatagram) {
    EXPECT_LE(receiver.Counts().largestIn, GetParam().largestDatagram);
  }
  const std::vector<test::CTiffPage> pages = test::ReadTiffPages(dir.File("received.tif"));
  ASSERT_EQ(pages.size(), sent.size());
  for (std::size_t n = 0; n < sent.size(); ++n) EXPECT_TRUE(pages[n].rows == sent[n].rows) << "page " << n + 1;
}

INSTANTIATE_TEST_SUITE_P(Udptl, T38SendTest,
                         ::testing::Values(T38Case{"Redundancy", "", 3, 0, false},
                                           T38Case{"FivePercentLossBothWays", "--loss 5 --seed 7", 3, 0, true},
                                           T38Case{"NoErrorCorrection", "--udptl-ec none", 0, 0, false},
                                           T38Case{"SmallDatagrams", "", 3, 160, false}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kestrel::faxsim
