// The reception worker when CAPI is absent, refuses or misbehaves: no driver,
// no controller, a refused registration, malformed messages, and a remote
// CAPI that goes away in the middle of a call.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/string_table.h"
#include "tests/capi/reception_fixture.h"

namespace kestrel::test {
namespace {

// A loopback port nobody listens on.
int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

TEST_F(ReceptionTest, NoReachableCapiIsReportedAsNoDriver) {
  WriteFileBytes(home_.File(".capi20rc"),
                 "REMOTE fritzbox 127.0.0.1 " + std::to_string(ClosedPort()) + "\nTRACELEVEL 0\n");
  ::setenv("HOME", home_.Path().c_str(), 1);
  StartWorker();
  ASSERT_TRUE(WaitForEvent("Error: No ISDN-driver installed."));
  StopWorker();
  ASSERT_EQ(notices_.texts.size(), 1u);
  EXPECT_EQ(notices_.texts[0], LoadString(IDS_CAPI_NOT_INITIATED));
  EXPECT_EQ(notices_.icons[0], NoticeIcon::kError);
}

TEST_F(ReceptionTest, ZeroControllersMeanNoRegistration) {
  StartSim({"--controllers", "0"});
  StartWorker();
  ASSERT_TRUE(WaitForEvent("Error: No ISDN-controller installed."));
  StopWorker();
  EXPECT_TRUE(sim_->RecordsStartingWith("REGISTER").empty());
  EXPECT_TRUE(sim_->RecordsStartingWith("RELEASE").empty());
  ASSERT_EQ(notices_.texts.size(), 1u);
  EXPECT_EQ(notices_.texts[0], "ISDN CAPI could not be initiated.");
}

TEST_F(ReceptionTest, RefusedRegistrationIdlesUntilTheNextStartRequest) {
  settings_.All = 1;
  StartSim();
  sim_->Command("set register-info 0x1001");
  StartWorker();
  ASSERT_TRUE(WaitForEvent("Error: registering the application in function RegisterCAPI,code: 1008"));
  ASSERT_TRUE(sim_->WaitFor("refused info=0x1001"));
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV LISTEN_REQ").empty());

  sim_->Command("set register-info 0");
  worker_->PostStartRequest();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=10");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  StopWorker();
  ASSERT_EQ(notices_.texts.size(), 1u);
  EXPECT_EQ(notices_.texts[0], "ISDN CAPI could not be initiated.");
}

TEST_F(ReceptionTest, TwoControllersAreCountedAndListenedToInOrder) {
  StartSim({"--controllers", "2", "--bchannels", "2"});
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ", 2));
  EXPECT_NE(EventIndex("Detected 2 controllers with 4 B-channels overall."), -1);
  auto listens = sim_->RecordsStartingWith("RECV LISTEN_REQ");
  EXPECT_EQ(RecordField(listens[0], "Controller"), "0x00000001");
  EXPECT_EQ(RecordField(listens[1], "Controller"), "0x00000002");
  auto reg = sim_->RecordsStartingWith("REGISTER").at(0);
  EXPECT_NE(reg.find("maxLogicalConnection=4 maxB3Blocks=7 maxB3Size=2048"), std::string::npos) << reg;
}

TEST_F(ReceptionTest, MalformedMessagesAreLoggedAndSurvived) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command(
      // CONNECT_IND whose called party number claims 16 bytes, 3 present
      "raw 1200 0000 0282 0000 017f0000 1100 10813535\n"
      // CONNECT_IND whose calling party number claims 4096 bytes (long form)
      "raw 1a00 0000 0282 0000 027f0000 1100 0881353535313233 34 ff0010\n"
      // an indication CAPI does not define
      "raw 0c00 0000 7e82 0000 00000000\n"
      // DATA_B3_IND with 4 bytes for an NCCI nobody holds
      "raw 1600 0000 8682 0000 017f0100 00000000 0400 0001 0000 deadbeef\n"
      // a message shorter than its header and address
      "raw 0800 0000 0882 0000\n"
      // a subcommand that is neither CONF nor IND
      "raw 0c00 0000 0284 0000 00000000\n");
  ASSERT_TRUE(WaitForEvent("Error: Unknown subcommand in function Handle_CAPI_Msg"));
  EXPECT_NE(EventIndex("Error: Indication not handled in function Handle_Indication"), -1);
  EXPECT_NE(EventIndex("Error: invalid NCCI in DATA_B3_IND in function Handle_Indication"), -1);
  // Neither CONNECT_IND reaches libcapi20's decomposition; the second of
  // the same kind is not logged again, the short INFO_IND is.
  const std::string malformed = "Error: malformed CAPI message in function Handle_CAPI_Msg";
  EXPECT_TRUE(WaitForEvent(malformed, 2));
  EXPECT_EQ(EventIndex(malformed, EventIndex(malformed, EventIndex(malformed) + 1) + 1), -1);
  EXPECT_EQ(EventIndex("Error: malformed parameter in CONNECT_IND in function Handle_Indication"), -1);
  // The stray data block is answered (the library swaps its handle back) and
  // the unreadable calls are not.
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP"));
  std::string resp = sim_->RecordsStartingWith("RECV DATA_B3_RESP")[0];
  EXPECT_EQ(RecordField(resp, "NCCI"), "0x00017f01");
  EXPECT_EQ(RecordField(resp, "DataHandle"), "0x0100");
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV CONNECT_RESP").empty());
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV ALERT_REQ").empty());

  // Reception goes on.
  sim_->Command("call a called=5551234 caller=0301 size=5000");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  EXPECT_EQ(ReadFileBytes(forwarding_.Calls()[0].captureFilePath).size(), 5000u);
}

TEST_F(ReceptionTest, MalformedDisconnectB3IsIgnoredAndTheCallStillEnds) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=3000 pages=4 rate=14400 hangup=never");
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP", 2));
  // DISCONNECT_B3_IND for the call's NCCI whose NCPI claims 32 bytes, 2 present.
  sim_->Command("raw 1300 0000 8482 0000 01010100 0000 20 8025");
  ASSERT_TRUE(WaitForEvent("Error: malformed CAPI message in function Handle_CAPI_Msg"));
  // The line's own clearing brings the results.
  sim_->Command("hangup a");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto call = forwarding_.Calls()[0];
  EXPECT_EQ(call.pages, 4);
  EXPECT_EQ(call.rate, 14400);
  EXPECT_EQ(ReadFileBytes(call.captureFilePath).size(), 3000u);
}

TEST_F(ReceptionTest, LostCapiLinkIsLoggedOnceAndReceptionResumesWhenItIsBack) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=3000 hangup=never");
  ASSERT_TRUE(WaitForEvent("state change slot 0 ID 0: Connected"));
  sim_->Command("drop\nsleep 1600\nresume");
  ASSERT_TRUE(WaitForEvent("Error: CAPI connection lost in function Handle_CAPI_Msg, registering again"));
  ASSERT_TRUE(WaitForEvent("CAPI connection restored, fax reception resumed."));
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ", 2));
  sim_->Command("call b called=1 caller=0302 size=2000");
  ASSERT_TRUE(forwarding_.WaitForCalls(2));
  StopWorker();

  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].callerNumber, "0301");
  EXPECT_EQ(calls[0].incomplete, "the CAPI link was lost during the call");
  EXPECT_EQ(calls[1].callerNumber, "0302");
  EXPECT_EQ(calls[1].incomplete, "");
  EXPECT_EQ(ReadFileBytes(calls[1].captureFilePath).size(), 2000u);
  auto events = Events();
  EXPECT_EQ(std::count(events.begin(), events.end(),
                       LoggedForm("Error: CAPI connection lost in function Handle_CAPI_Msg, registering again")),
            1);
  EXPECT_EQ(std::count(events.begin(), events.end(), LoggedForm("CAPI connection restored, fax reception resumed.")),
            1);
  auto registers = sim_->RecordsStartingWith("REGISTER");
  ASSERT_EQ(registers.size(), 2u);
  EXPECT_NE(RecordField(registers[0], "applid"), RecordField(registers[1], "applid"));
}

TEST_F(ReceptionTest, HaltInterruptsTheWaitForTheNextRegistration) {
  StartSim();
  StartWorker(std::chrono::minutes(10));
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("drop");
  ASSERT_TRUE(WaitForEvent("Error: CAPI connection lost in function Handle_CAPI_Msg, registering again"));
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    StopWorker();
    stopped = true;
  });
  bool quick = Eventually([&] { return stopped.load(); }, 5s);
  stopper.join();
  EXPECT_TRUE(quick);
  auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "End_Session");
  // Nothing left to release: the lost registration was given up already.
  EXPECT_EQ(std::count(events.begin(), events.end(),
                       LoggedForm("Error: deregistering the application in function "
                                  "ReleaseCAPI code: 0x1108")),
            0);
}

}  // namespace
}  // namespace kestrel::test
