// Calls side by side on a line with two B-channels, through the real
// libcapi20 and capi-linesim: each fax keeps its own capture, pages and
// recipients; busy only while both channels hold a call; a call arriving as
// the previous one hangs up is taken; a stop tears both calls down within its
// bound and hands both captures over.
#include <chrono>
#include <map>
#include <set>

#include "tests/capi/reception_fixture.h"

namespace kestrel::test {
namespace {

// The CONNECT_RESP the worker gave the call with `plci`, or "".
std::string ConnectRespFor(const CLineSim& sim, const std::string& plci) {
  for (const auto& line : sim.RecordsStartingWith("RECV CONNECT_RESP"))
    if (RecordField(line, "PLCI") == plci) return line;
  return "";
}

struct Callers {
  const char* name;
  const char* first;
  const char* second;
};

class TwoFaxesAtOnce : public ReceptionTest, public ::testing::WithParamInterface<Callers> {};

TEST_P(TwoFaxesAtOnce, EachKeepsItsOwnCapturePagesAndRecipients) {
  AddMsn("100", "first@example.com");
  AddMsn("200", "second@example.com");
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  const std::string faxA = WriteFaxFile("a.sff", 2048 * 6 + 100);
  const std::string faxB = WriteFaxFile("b.sff", 2048 * 3 + 55);
  sim_->Command(std::string("call a called=100 caller=") + GetParam().first + " sff=" + faxA + " pages=3\n" +
                "call b called=200 caller=" + GetParam().second + " sff=" + faxB + " pages=2\n");
  ASSERT_TRUE(forwarding_.WaitForCalls(2));
  EXPECT_NE(EventIndex("call assigned to slot 1 "), -1);
  EXPECT_EQ(EventIndex("no free slot available, rejecting call... "), -1);

  struct Expected {
    std::string caller;
    std::uint16_t pages;
    std::string bytes;
  };
  const std::map<std::string, Expected> byRecipients = {
      {"first@example.com;", {GetParam().first, 3, ReadFileBytes(faxA)}},
      {"second@example.com;", {GetParam().second, 2, ReadFileBytes(faxB)}},
  };
  std::set<std::string> captures;
  for (const FaxCallRecord& call : forwarding_.Calls()) {
    SCOPED_TRACE(call.recipients);
    ASSERT_EQ(byRecipients.count(call.recipients), 1u);
    const Expected& want = byRecipients.at(call.recipients);
    EXPECT_EQ(call.callerNumber, want.caller);
    EXPECT_EQ(call.pages, want.pages);
    EXPECT_EQ(call.incomplete, "");
    EXPECT_TRUE(ReadFileBytes(call.captureFilePath) == want.bytes);
    captures.insert(call.captureFilePath);
  }
  EXPECT_EQ(captures.size(), 2u);
  EXPECT_EQ(FilesIn(settings_.ReceivedDir).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Callers, TwoFaxesAtOnce,
                         ::testing::Values(Callers{"DifferentCallers", "0301111111", "0302222222"},
                                           Callers{"SameCaller", "0301111111", "0301111111"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two calls at once: a line of two B-channels, or one of four that CapiCalls
// holds to two.
struct TwoAtOnce {
  const char* name;
  const char* bChannels;
  int capiCalls;
};

class ThirdCall : public ReceptionTest, public ::testing::WithParamInterface<TwoAtOnce> {};

TEST_P(ThirdCall, IsBusyOnlyWhileBothSlotsHoldACall) {
  settings_.All = 1;
  settings_.CapiCalls = GetParam().capiCalls;
  StartSim({"--bchannels", GetParam().bChannels});
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command(
      "call a called=1 caller=0301 size=3000 hangup=never\n"
      "call b called=1 caller=0302 size=3000 hangup=never\n");
  ASSERT_TRUE(WaitForEvent("state change slot 0 ID 0: Connected"));
  ASSERT_TRUE(WaitForEvent("state change slot 1 ID 1: Connected"));
  sim_->Command("call c called=1 caller=0303");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=c done"));
  EXPECT_EQ(RecordField(ConnectRespFor(*sim_, "0x00000301"), "Reject"), "0x0003");

  // One channel free again: the next call is answered.
  sim_->Command("hangup a reason=0");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));
  sim_->Command("call d called=1 caller=0304 size=1000");
  ASSERT_TRUE(forwarding_.WaitForCalls(2));
  EXPECT_EQ(RecordField(ConnectRespFor(*sim_, "0x00000401"), "Reject"), "0x0000");
  sim_->Command("hangup b reason=0");
  ASSERT_TRUE(forwarding_.WaitForCalls(3));
  std::vector<std::string> callers;
  for (const FaxCallRecord& call : forwarding_.Calls()) {
    callers.push_back(call.callerNumber);
    EXPECT_EQ(call.incomplete, "") << call.callerNumber;
  }
  EXPECT_EQ(callers, (std::vector<std::string>{"0301", "0304", "0302"}));
  EXPECT_EQ(FilesIn(settings_.ReceivedDir).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Lines, ThirdCall,
                         ::testing::Values(TwoAtOnce{"TwoBChannels", "2", 0}, TwoAtOnce{"FourCappedAtTwo", "4", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each call arrives in the same instant as the previous one hangs up, before
// the network has cleared that one's channel.
TEST_F(ReceptionTest, CallArrivingAsThePreviousHangsUpIsAnswered20Of20) {
  constexpr int kCalls = 20;
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  auto connected = [&](int n) {
    return Eventually([&] {
      int seen = 0;
      for (const auto& e : Events()) seen += e.ends_with(LoggedForm(": Connected")) ? 1 : 0;
      return seen >= n;
    });
  };
  sim_->Command("call c0 called=1 caller=0300 size=1000 hangup=never");
  for (int i = 1; i <= kCalls; ++i) {
    ASSERT_TRUE(connected(i)) << i;
    sim_->Command("hangup c" + std::to_string(i - 1) + " reason=0\ncall c" + std::to_string(i) +
                  " called=1 caller=030" + std::to_string(i) + " size=1000 hangup=never\n");
  }
  ASSERT_TRUE(connected(kCalls + 1));
  sim_->Command("hangup c" + std::to_string(kCalls) + " reason=0");
  ASSERT_TRUE(forwarding_.WaitForCalls(kCalls + 1));

  const auto responses = sim_->RecordsStartingWith("RECV CONNECT_RESP");
  ASSERT_EQ(responses.size(), static_cast<std::size_t>(kCalls + 1));
  for (const auto& resp : responses) EXPECT_EQ(RecordField(resp, "Reject"), "0x0000") << resp;
  for (const FaxCallRecord& call : forwarding_.Calls()) {
    EXPECT_EQ(call.incomplete, "") << call.callerNumber;
    EXPECT_EQ(ReadFileBytes(call.captureFilePath).size(), 1000u) << call.callerNumber;
  }
}

// The network never confirms the tear-down: the stop waits for it no longer
// than its bound, and both faxes are handed over with what arrived.
TEST_F(ReceptionTest, StopDuringTwoCallsEndsWithinItsBoundAndKeepsBothCaptures) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command(
      "set conf-info DISCONNECT_B3 0x2001\n"
      "call a called=1 caller=0301 size=3000 hangup=never\n"
      "call b called=1 caller=0302 size=5000 hangup=never\n");
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP", 2 + 3));
  const auto before = std::chrono::steady_clock::now();
  worker_->Halt();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, std::chrono::milliseconds(6500));

  EXPECT_EQ(sim_->RecordsStartingWith("RECV DISCONNECT_B3_REQ").size(), 2u);
  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 2u);
  std::map<std::string, std::size_t> sizes;
  for (const FaxCallRecord& call : calls) {
    EXPECT_EQ(call.incomplete, "the service stopped during the call") << call.callerNumber;
    sizes[call.callerNumber] = ReadFileBytes(call.captureFilePath).size();
  }
  EXPECT_EQ(sizes, (std::map<std::string, std::size_t>{{"0301", 3000}, {"0302", 5000}}));
}

}  // namespace
}  // namespace kestrel::test
