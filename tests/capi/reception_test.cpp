// One fax call after another through the real libcapi20 and capi-linesim:
// the normal call, the accept and reject rules, the busy line, the worker's
// own tear-down, and confirmations carrying an Info.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "tests/capi/reception_fixture.h"

namespace kestrel::test {
namespace {

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 0xf];
  }
  return out;
}

// The record line of `name` whose `field` is `value`, or "".
std::string FindRecord(const CLineSim& sim, const std::string& prefix, const std::string& field,
                       const std::string& value) {
  for (const auto& line : sim.RecordsStartingWith(prefix))
    if (RecordField(line, field) == value) return line;
  return "";
}

TEST_F(ReceptionTest, NormalFaxCallWalksEveryStateAndCapturesTheExactBytes) {
  AddMsn("5551234", "fax@example.com");
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  std::string fax = WriteFaxFile("sent.sff", 2048 * 5 + 321);
  std::time_t before = std::time(nullptr);
  sim_->Command("call a called=5551234 caller=0301234567 sff=" + fax +
                " rate=9600 pages=2 id=\" +49 30 7654321\" empty-block-at=2");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  ASSERT_TRUE(WaitForEvent("Begin of FAX-receive.", 2));
  std::time_t after = std::time(nullptr);
  StopWorker();

  // The event log: the call walks every state, in order, between the cycle's texts.
  std::vector<std::string> expected = {
      "Init Session",
      "Detected 1 controllers with 2 B-channels overall.",
      "Begin of FAX-receive.",
      "Incoming call, ID 0, caller: \"0301234567\"",
      "call assigned to slot 0 ",
      "state change slot 0 ID 0: D_ConnectPending",
      "state change slot 0 ID 0: D_Connected",
      "state change slot 0 ID 0: B_ConnectPending",
      "state change slot 0 ID 0: Connected",
      "state change slot 0 ID 0: D_Connected",
      "state change slot 0 ID 0: Disconnected",
      "End of FAX-receive.",
      "Begin of FAX-receive.",
      "End of FAX-receive.",
      "End Session",
  };
  std::vector<std::string> logged;
  for (const auto& e : expected) logged.push_back(LoggedForm(e));
  EXPECT_EQ(Events(), logged);

  // The record handed over to the forwarding side.
  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  const FaxCallRecord& call = calls[0];
  EXPECT_EQ(call.callerNumber, "0301234567");
  EXPECT_EQ(call.pages, 2);
  EXPECT_EQ(call.rate, 9600);
  EXPECT_EQ(call.remoteStationId, "49307654321");
  EXPECT_EQ(call.recipients, "fax@example.com;");
  EXPECT_EQ(call.incomplete, "");
  EXPECT_EQ(call.receptionEntry, call.captureFilePath) << "announced when answered";
  EXPECT_EQ(forwarding_.Answered(), std::vector<std::string>{call.captureFilePath});
  EXPECT_LE(before, call.startTime);
  EXPECT_LE(call.startTime, call.endTime);
  EXPECT_LE(call.endTime, after);

  // The capture file: named from the caller and the start time, holding the
  // bytes exactly as sent.
  std::tm local{};
  localtime_r(&call.startTime, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "_%d-%m-%Y-%H-%M-%S", &local);
  EXPECT_EQ(call.captureFilePath, settings_.ReceivedDir + "0301234567" + stamp + ".sff");
  EXPECT_EQ(ReadFileBytes(call.captureFilePath), ReadFileBytes(fax));

  // The exchange: LISTEN for every service, ALERT and CONNECT_RESP with
  // message number 0, the fax protocols and the station id; every response of
  // a handler echoes its indication's message number.
  std::string listen = sim_->RecordsStartingWith("RECV LISTEN_REQ").at(0);
  EXPECT_EQ(RecordField(listen, "CIPmask"), "0x1fff03ff");
  EXPECT_EQ(RecordField(listen, "InfoMask"), "0x00000000");
  EXPECT_EQ(RecordField(listen, "Controller"), "0x00000001");
  std::string alert = sim_->RecordsStartingWith("RECV ALERT_REQ").at(0);
  EXPECT_EQ(RecordField(alert, "msg"), "0");
  EXPECT_EQ(RecordField(alert, "PLCI"), "0x00000101");
  std::string resp = sim_->RecordsStartingWith("RECV CONNECT_RESP").at(0);
  EXPECT_EQ(RecordField(resp, "msg"), "0");
  EXPECT_EQ(RecordField(resp, "Reject"), "0x0000");
  EXPECT_EQ(RecordField(resp, "B1protocol"), "0x0004");
  EXPECT_EQ(RecordField(resp, "B2protocol"), "0x0004");
  EXPECT_EQ(RecordField(resp, "B3protocol"), "0x0004");
  EXPECT_EQ(RecordField(resp, "B1configuration"), "[]");
  EXPECT_EQ(RecordField(resp, "B2configuration"), "[]");
  EXPECT_EQ(RecordField(resp, "B3configuration"), "[000000000e" + Hex("+49 30 1234567") + "0120]");
  auto indications = sim_->RecordsStartingWith("SEND DATA_B3_IND");
  auto responses = sim_->RecordsStartingWith("RECV DATA_B3_RESP");
  ASSERT_EQ(indications.size(), 7u);  // five full blocks, the rest, one empty
  ASSERT_EQ(responses.size(), indications.size());
  for (std::size_t i = 0; i < indications.size(); ++i) {
    EXPECT_EQ(RecordField(responses[i], "msg"), RecordField(indications[i], "msg"));
    EXPECT_EQ(RecordField(responses[i], "DataHandle"), RecordField(indications[i], "DataHandle"));
  }
  std::string disc = sim_->RecordsStartingWith("SEND DISCONNECT_IND").at(0);
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV DISCONNECT_RESP").at(0), "msg"), RecordField(disc, "msg"));
  EXPECT_TRUE(sim_->WaitFor("RELEASE"));
  EXPECT_TRUE(notices_.texts.empty());
}

TEST_F(ReceptionTest, AllOnAcceptsAnyNumberWithEmailAllAsRecipients) {
  settings_.All = 1;
  settings_.EmailAll = "all@example.com";
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=999 caller=040123 size=3000 info-ind=1");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto calls = forwarding_.Calls();
  EXPECT_EQ(calls[0].recipients, "all@example.com");
  EXPECT_EQ(calls[0].callerNumber, "040123");
  EXPECT_EQ(ReadFileBytes(calls[0].captureFilePath).size(), 3000u);
  // The INFO_IND is answered with its own message number.
  ASSERT_TRUE(sim_->WaitFor("RECV INFO_RESP"));
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV INFO_RESP")[0], "msg"),
            RecordField(sim_->RecordsStartingWith("SEND INFO_IND")[0], "msg"));
}

TEST_F(ReceptionTest, UnknownMsnIsNeitherAlertedNorAnsweredAndItsEntryIsFreedAtDisconnect) {
  AddMsn("5551234", "fax@example.com");
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=4444 caller=0301234567 ring-timeout=300");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV ALERT_REQ").empty());
  EXPECT_TRUE(sim_->RecordsStartingWith("RECV CONNECT_RESP").empty());
  EXPECT_EQ(sim_->RecordsStartingWith("RECV DISCONNECT_RESP").size(), 1u);
  StopWorker();
  EXPECT_EQ(CConnectionTable::Process().InUseCount(), 0);
  EXPECT_EQ(EventIndex("Incoming call, ID 0, caller: \"0301234567\""), -1);
  EXPECT_TRUE(FilesIn(settings_.ReceivedDir).empty());
  EXPECT_TRUE(forwarding_.Calls().empty());
}

TEST_F(ReceptionTest, RejectCallerIdAnswersACallWithoutNumberWithReject2AndNoFile) {
  settings_.All = 1;
  settings_.RejectCallerID = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=5551234 size=100");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));
  std::string resp = sim_->RecordsStartingWith("RECV CONNECT_RESP").at(0);
  EXPECT_EQ(RecordField(resp, "Reject"), "0x0002");
  EXPECT_EQ(RecordField(resp, "B3protocol"), "0x0004");
  EXPECT_TRUE(WaitForEvent("Fax call without CallerID or StationID, rejecting call... "));
  EXPECT_NE(EventIndex("Incoming call, ID 0, caller: \"\""), -1);
  StopWorker();
  EXPECT_TRUE(FilesIn(settings_.ReceivedDir).empty());
  EXPECT_TRUE(forwarding_.Calls().empty());
  EXPECT_EQ(CConnectionTable::Process().InUseCount(), 0);
}

TEST_F(ReceptionTest, SecondCallIsBusyAndNinthSimultaneousCallFindsNoEntry) {
  settings_.CapiCalls = 1;
  settings_.All = 1;
  settings_.EmailAll = "all@example.com";
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  std::string fax = WriteFaxFile("first.sff", 5000);
  std::string lines = "call c1 called=5551234 caller=0301111111 sff=" + fax + "\n";
  for (int i = 2; i <= 9; ++i)
    lines += "call c" + std::to_string(i) + " called=5551234 caller=03022222" + std::to_string(i) + "\n";
  sim_->Command(lines);
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  for (int i = 1; i <= 9; ++i) ASSERT_TRUE(sim_->WaitFor("EVENT call=c" + std::to_string(i) + " done"));

  // Calls 2 to 8 got table entries but the line is busy: Reject 3, no file.
  for (int i = 2; i <= 8; ++i) {
    char plci[16];
    std::snprintf(plci, sizeof plci, "0x%08x", i << 8 | 1);
    std::string resp = FindRecord(*sim_, "RECV CONNECT_RESP", "PLCI", plci);
    EXPECT_EQ(RecordField(resp, "Reject"), "0x0003") << i;
    EXPECT_EQ(RecordField(resp, "msg"), "0") << i;
  }
  // The ninth found all 8 entries taken: Reject 2 with its CONNECT_IND's number.
  std::string ninth = FindRecord(*sim_, "RECV CONNECT_RESP", "PLCI", "0x00000901");
  EXPECT_EQ(RecordField(ninth, "Reject"), "0x0002");
  std::string ninthInd = FindRecord(*sim_, "SEND CONNECT_IND", "PLCI", "0x00000901");
  EXPECT_EQ(RecordField(ninth, "msg"), RecordField(ninthInd, "msg"));
  EXPECT_NE(RecordField(ninth, "msg"), "0");
  EXPECT_EQ(FindRecord(*sim_, "RECV ALERT_REQ", "PLCI", "0x00000901"), "");

  // The first call is received undisturbed, for its own recipients only.
  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].callerNumber, "0301111111");
  EXPECT_EQ(calls[0].recipients, "all@example.com");
  EXPECT_EQ(ReadFileBytes(calls[0].captureFilePath), ReadFileBytes(fax));
  EXPECT_EQ(FilesIn(settings_.ReceivedDir).size(), 1u);
  ASSERT_TRUE(WaitForEvent("no free slot available, rejecting call... ", 7));
  StopWorker();
  EXPECT_EQ(CConnectionTable::Process().InUseCount(), 0);
}

TEST_F(ReceptionTest, BusyCallDoesNotChangeTheRecipientsOfTheCallInProgress) {
  settings_.CapiCalls = 1;
  AddMsn("100", "first@example.com");
  AddMsn("200", "second@example.com");
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=100 caller=0301 size=4000 hangup=never");
  ASSERT_TRUE(WaitForEvent("state change slot 0 ID 0: Connected"));
  sim_->Command("call b called=200 caller=0302");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=b done"));
  sim_->Command("hangup a");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto calls = forwarding_.Calls();
  EXPECT_EQ(calls[0].recipients, "first@example.com;");
  EXPECT_EQ(calls[0].callerNumber, "0301");
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV CONNECT_RESP").at(1), "Reject"), "0x0003");
}

TEST_F(ReceptionTest, HaltTearsAConnectedCallDownInOrderAndHandsItOverCutShort) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=5551234 caller=0301234567 size=3000 hangup=never");
  ASSERT_TRUE(WaitForEvent("state change slot 0 ID 0: Connected"));
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP", 2));
  worker_->Halt();
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));  // the simulator has recorded the last response

  // The worker's own clearing, message by message.
  std::vector<std::string> order = {"RECV DISCONNECT_B3_REQ",  "SEND DISCONNECT_B3_CONF", "SEND DISCONNECT_B3_IND",
                                    "RECV DISCONNECT_B3_RESP", "RECV DISCONNECT_REQ",     "SEND DISCONNECT_CONF",
                                    "SEND DISCONNECT_IND",     "RECV DISCONNECT_RESP"};
  auto records = sim_->Records();
  std::size_t at = 0;
  for (const auto& step : order) {
    while (at < records.size() && records[at].rfind(step, 0) != 0) ++at;
    EXPECT_LT(at, records.size()) << step << " missing or out of order";
  }
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV DISCONNECT_B3_REQ").at(0), "msg"), "0");
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV DISCONNECT_REQ").at(0), "msg"), "0");
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("RECV DISCONNECT_REQ").at(0), "PLCI"), "0x00000101");

  int connected = EventIndex("state change slot 0 ID 0: Connected");
  int b = EventIndex("state change slot 0 ID 0: B_DisconnectPending", connected);
  int d = EventIndex("state change slot 0 ID 0: D_Connected", b);
  int dd = EventIndex("state change slot 0 ID 0: D_DisconnectPending", d);
  int gone = EventIndex("state change slot 0 ID 0: Disconnected", dd);
  EXPECT_LT(connected, b);
  EXPECT_NE(gone, -1);
  StopWorker();
  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].incomplete, "the service stopped during the call");
  EXPECT_EQ(ReadFileBytes(calls[0].captureFilePath).size(), 3000u) << "every block that arrived";
  auto events = Events();
  EXPECT_EQ(events.back(), "End_Session");
  EXPECT_TRUE(sim_->WaitFor("RELEASE"));
}

TEST_F(ReceptionTest, CallEndingBeforeConnectedIsNotForwardedAndTheNextCallIs) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=5551234 caller=0301 hangup=b3");
  ASSERT_TRUE(sim_->WaitFor("EVENT call=a done"));
  sim_->Command("call b called=5551234 caller=0302 size=2500 pages=3");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  ASSERT_TRUE(WaitForEvent("Begin of FAX-receive.", 2));
  StopWorker();

  int first = EventIndex("Incoming call, ID 0, caller: \"0301\"");
  int bcp = EventIndex("state change slot 0 ID 0: B_ConnectPending", first);
  int back = EventIndex("state change slot 0 ID 0: D_Connected", bcp);
  int gone = EventIndex("state change slot 0 ID 0: Disconnected", back);
  int second = EventIndex("Incoming call, ID 0, caller: \"0302\"", gone);
  EXPECT_NE(second, -1);
  EXPECT_EQ(EventIndex("state change slot 0 ID 0: Connected", first),
            EventIndex("state change slot 0 ID 0: Connected", second));
  // One cycle served both calls: no "End of FAX-receive." before the second.
  EXPECT_GT(EventIndex("End of FAX-receive."), second);

  auto calls = forwarding_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].callerNumber, "0302");
  EXPECT_EQ(calls[0].pages, 3);
  // The first call's file stays behind, empty.
  auto files = FilesIn(settings_.ReceivedDir);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].rfind("0301_", 0), 0u);
  EXPECT_EQ(ReadFileBytes(settings_.ReceivedDir + files[0]), "");
  EXPECT_EQ(forwarding_.Answered().size(), 2u);
  EXPECT_EQ(forwarding_.Dropped(), std::vector<std::string>{settings_.ReceivedDir + files[0]});
}

TEST_F(ReceptionTest, CallThatConnectsAndEndsWithinOnePumpIsStillForwarded) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=1500 pages=1 burst=1");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto call = forwarding_.Calls()[0];
  EXPECT_EQ(ReadFileBytes(call.captureFilePath).size(), 1500u);
  EXPECT_EQ(call.pages, 1);
}

TEST_F(ReceptionTest, SenderHangingUpInTheMiddleLeavesTheBlocksThatArrived) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  std::string fax = WriteFaxFile("long.sff", 2048 * 6);
  sim_->Command("call a called=1 caller=0301 sff=" + fax + " hangup=data:2 pages=1 reason=0x3490");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto call = forwarding_.Calls()[0];
  EXPECT_EQ(ReadFileBytes(call.captureFilePath), ReadFileBytes(fax).substr(0, 2 * 2048));
  EXPECT_EQ(call.pages, 1);
  EXPECT_EQ(call.incomplete, "the sender ended the call before the last page (reason 0x3490)");
  EXPECT_EQ(sim_->RecordsStartingWith("SEND DATA_B3_IND").size(), 2u);
}

TEST_F(ReceptionTest, ConfirmationInfoUpTo0xFFIsSuccessAndLargerIsLoggedTwice) {
  settings_.All = 1;
  StartSim();
  sim_->Command("set conf-info ALERT 0x0001\nset conf-info LISTEN 0x2001");
  StartWorker();
  ASSERT_TRUE(WaitForEvent("Error: Info != 0 in LISTEN_CONF in function Handle_Confirmation"));
  int info = EventIndex("Error: Info value 0x2001 indicates error, function Handle_Confirmation");
  ASSERT_NE(info, -1);
  EXPECT_EQ(EventIndex("Error: Info != 0 in LISTEN_CONF in function Handle_Confirmation"), info + 1);
  sim_->Command("call a called=5551234 caller=0301 size=100");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  ASSERT_TRUE(sim_->WaitFor("SEND ALERT_CONF"));
  EXPECT_EQ(RecordField(sim_->RecordsStartingWith("SEND ALERT_CONF")[0], "Info"), "0x0001");
  StopWorker();
  for (const auto& e : Events()) EXPECT_EQ(e.find("ALERT_CONF"), std::string::npos) << e;
}

TEST_F(ReceptionTest, MissingReceiveFolderIsCreatedWithAnEventText) {
  settings_.All = 1;
  settings_.ReceivedDir = home_.Path() + "new-faxes";
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=700");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  EXPECT_NE(EventIndex("receive fax folder not exist."), -1);
  auto calls = forwarding_.Calls();
  EXPECT_EQ(calls[0].captureFilePath.rfind(home_.Path() + "new-faxes/0301_", 0), 0u);
  EXPECT_EQ(ReadFileBytes(calls[0].captureFilePath).size(), 700u);
}

TEST_F(ReceptionTest, CallerNumberWithPathCharactersStaysInsideTheReceiveFolder) {
  settings_.All = 1;
  settings_.ReceivedDir = home_.Path() + "faxes";  // without the trailing "/"
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=\"/../0301 23/../x*#+\" size=50");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  auto calls = forwarding_.Calls();
  EXPECT_EQ(calls[0].callerNumber, "/../0301 23/../x*#+");
  EXPECT_EQ(calls[0].captureFilePath.rfind(home_.Path() + "faxes/030123*#+_", 0), 0u) << calls[0].captureFilePath;
  auto files = FilesIn(settings_.ReceivedDir);
  ASSERT_EQ(files.size(), 1u);
  for (const auto& name : FilesIn(home_.Path())) EXPECT_EQ(name.find(".sff"), std::string::npos) << name;
}

TEST_F(ReceptionTest, NewSettingsWaitForTheCallInProgressAndServeTheNextCall) {
  settings_.All = 1;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=3000 hangup=never");
  ASSERT_TRUE(sim_->WaitFor("RECV DATA_B3_RESP", 2));
  ServiceSettings fresh = settings_;
  fresh.Number = "4940999";
  fresh.ReceivedDir = home_.Path() + "other/";
  fresh.EmailAll = "new@example.com";
  worker_->ChangeSettings(fresh);
  sim_->Command("hangup a reason=0");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  ASSERT_TRUE(WaitForEvent("The reception uses the new settings from the next call on."));
  sim_->Command("call b called=1 caller=0302 size=700");
  ASSERT_TRUE(forwarding_.WaitForCalls(2));

  auto calls = forwarding_.Calls();
  EXPECT_EQ(calls[0].captureFilePath.rfind(settings_.ReceivedDir + "0301_", 0), 0u) << calls[0].captureFilePath;
  EXPECT_EQ(calls[0].incomplete, "");
  EXPECT_EQ(calls[0].recipients, "");
  EXPECT_EQ(ReadFileBytes(calls[0].captureFilePath).size(), 3000u);
  EXPECT_EQ(calls[1].captureFilePath.rfind(fresh.ReceivedDir + "0302_", 0), 0u) << calls[1].captureFilePath;
  EXPECT_EQ(calls[1].recipients, "new@example.com");
  auto answers = sim_->RecordsStartingWith("RECV CONNECT_RESP");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(RecordField(answers[0], "B3configuration"), "[000000000e" + Hex("+49 30 1234567") + "0120]");
  EXPECT_EQ(RecordField(answers[1], "B3configuration"), "[0000000007" + Hex("4940999") + "0120]");
}

// A received folder on a small file system of its own, unmounted at the end.
class FullFolderTest : public ReceptionTest {
 protected:
  ~FullFolderTest() override {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool MountSmallFolder(const std::string& size) {
    folder_ = home_.Path() + "small/";
    std::filesystem::create_directory(folder_);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    return mounted_;
  }
  std::string folder_;
  bool mounted_ = false;
};

TEST_F(FullFolderTest, FolderFillingDuringACallMarksTheFaxIncompleteAndTheNextFaxIsWhole) {
  if (!MountSmallFolder("16k")) GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
  settings_.All = 1;
  settings_.ReceivedDir = folder_;
  StartSim();
  StartWorker();
  ASSERT_TRUE(sim_->WaitFor("RECV LISTEN_REQ"));
  sim_->Command("call a called=1 caller=0301 size=40000");
  ASSERT_TRUE(forwarding_.WaitForCalls(1));
  const FaxCallRecord full = forwarding_.Calls()[0];
  EXPECT_EQ(full.incomplete, "the capture file could not be written: No space left on device");
  EXPECT_NE(EventIndex("The capture file " + full.captureFilePath +
                       " could not be written: No space left on device; the fax is incomplete."),
            -1);
  EXPECT_LT(ReadFileBytes(full.captureFilePath).size(), 40000u);

  std::filesystem::remove(full.captureFilePath);
  sim_->Command("call b called=1 caller=0302 size=5000");
  ASSERT_TRUE(forwarding_.WaitForCalls(2));
  const FaxCallRecord whole = forwarding_.Calls()[1];
  EXPECT_EQ(whole.incomplete, "");
  EXPECT_EQ(ReadFileBytes(whole.captureFilePath).size(), 5000u);
  StopWorker();
  auto events = Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.find("could_not_be_written") != std::string::npos; }),
            1)
      << "one event for the one capture";
}

}  // namespace
}  // namespace kestrel::test
