// The call state machine without CAPI or a thread: each row of its
// indication and confirmation tables as state before, message in, actions out
// and state after; the tear-down it starts; the slot rules; and the call it
// announces, hands over (whole or cut short) or drops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "capi/call_state_machine.h"

namespace kestrel {
namespace {

constexpr std::uint32_t kPlci = 0x101;
constexpr std::uint32_t kNcci = 0x10101;
constexpr std::uint16_t kNumber = 7;

const char* CommandName(CapiCommand c) {
  switch (c) {
    case CapiCommand::kAlert: return "ALERT";
    case CapiCommand::kConnect: return "CONNECT";
    case CapiCommand::kConnectActive: return "CONNECT_ACTIVE";
    case CapiCommand::kDisconnect: return "DISCONNECT";
    case CapiCommand::kListen: return "LISTEN";
    case CapiCommand::kInfo: return "INFO";
    case CapiCommand::kConnectB3: return "CONNECT_B3";
    case CapiCommand::kConnectB3Active: return "CONNECT_B3_ACTIVE";
    case CapiCommand::kDisconnectB3: return "DISCONNECT_B3";
    case CapiCommand::kDataB3: return "DATA_B3";
  }
  return "?";
}

// "put CONNECT_RESP #0 0x101 reject=0 fax b3": every parameter that is set.
std::string Describe(const OutgoingCapiMessage& m) {
  const char* sub = m.subcommand == CapiSubcommand::kReq    ? "_REQ"
                    : m.subcommand == CapiSubcommand::kResp ? "_RESP"
                                                            : "_?";
  char buf[96];
  std::snprintf(buf, sizeof buf, "put %s%s #%u 0x%x", CommandName(m.command), sub, m.messageNumber, m.address);
  std::string s = buf;
  bool hasReject = m.subcommand == CapiSubcommand::kResp &&
                   (m.command == CapiCommand::kConnect || m.command == CapiCommand::kConnectB3);
  if (hasReject || m.reject) s += " reject=" + std::to_string(m.reject);
  if (m.faxProtocols) s += " fax";
  if (m.b3Configuration) s += " b3";
  if (m.command == CapiCommand::kDataB3 || m.dataHandle) s += " handle=" + std::to_string(m.dataHandle);
  return s;
}

// The worker's side and the MSN table, as one ordered trace. The table holds
// 5551234 for fax@example.com.
class CCallSide final : public ICallActions, public IRecipientResolver {
 public:
  void Put(const OutgoingCapiMessage& message) override { trace.push_back(Describe(message)); }
  bool OpenCapture(int slot, const std::string& callerNumber, std::string& path) override {
    trace.push_back("open " + callerNumber + Slot(slot));
    path = "/faxes/" + callerNumber + ".sff";
    return !captureFails;
  }
  void AppendData(int slot, const std::uint8_t*, std::size_t length) override {
    trace.push_back("append " + std::to_string(length) + Slot(slot));
  }
  void CallAnswered(FaxCallRecord& call) override { trace.push_back("answered " + call.captureFilePath); }
  void FaxEnded(int slot, FaxCallRecord& call) override {
    trace.push_back("hand over pages=" + std::to_string(call.pages) +
                    (call.incomplete.empty() ? "" : " incomplete=" + call.incomplete) + Slot(slot));
    handedOver.push_back(call);
  }
  void CallDropped(int slot, const FaxCallRecord& call) override {
    trace.push_back("dropped " + call.captureFilePath + Slot(slot));
  }
  void WriteEventText(std::string_view text) override { trace.push_back("log " + std::string(text)); }
  int AcceptsCalledNumber(const std::string& calledNumber, std::string& recipients) override {
    trace.push_back("resolve " + calledNumber);
    if (calledNumber != "5551234") return 0;
    recipients += "fax@example.com;";
    return 1;
  }
  void SetAcceptAll(std::int32_t, const std::string&) override {}

  // Slot 0 goes unnamed, so that the single-call rows read as before.
  static std::string Slot(int slot) { return slot == 0 ? "" : " slot=" + std::to_string(slot); }

  std::vector<std::string> trace;
  std::vector<FaxCallRecord> handedOver;
  bool captureFails = false;
};

ReceivedCapiMessage Message(CapiSubcommand sub, CapiCommand command, std::uint32_t address, std::uint16_t info = 0) {
  ReceivedCapiMessage m;
  m.command = command;
  m.subcommand = sub;
  m.messageNumber = kNumber;
  m.address = address;
  m.info = info;
  return m;
}
ReceivedCapiMessage Ind(CapiCommand command, std::uint32_t address) {
  return Message(CapiSubcommand::kInd, command, address);
}
ReceivedCapiMessage Conf(CapiCommand command, std::uint32_t address, std::uint16_t info) {
  return Message(CapiSubcommand::kConf, command, address, info);
}
// The structs as signalled: type of number, then presentation for the caller.
ReceivedCapiMessage ConnectInd(std::uint32_t plci, const std::string& called, const std::string& caller) {
  ReceivedCapiMessage m = Ind(CapiCommand::kConnect, plci);
  m.calledPartyNumber = "\x81" + called;
  m.callingPartyNumber = "\x21\x83" + caller;
  return m;
}
ReceivedCapiMessage DataInd(std::uint32_t ncci, const std::uint8_t* data, std::size_t length) {
  ReceivedCapiMessage m = Ind(CapiCommand::kDataB3, ncci);
  m.data = data;
  m.dataLength = length;
  m.dataHandle = 0x100;
  return m;
}
// Rate, options, format, pages, receive id; Reason_B3.
ReceivedCapiMessage DisconnectB3Ind(std::uint16_t rate, std::uint16_t pages, const std::string& id,
                                    std::uint16_t reason = 0) {
  ReceivedCapiMessage m = Ind(CapiCommand::kDisconnectB3, kNcci);
  m.reasonB3 = reason;
  m.ncpi = {static_cast<char>(rate & 0xff), static_cast<char>(rate >> 8), 0, 0, 0, 0, static_cast<char>(pages & 0xff),
            static_cast<char>(pages >> 8),  static_cast<char>(id.size())};
  m.ncpi += id;
  return m;
}
ReceivedCapiMessage Malformed(ReceivedCapiMessage m) {
  m.wellFormed = false;
  m.calledPartyNumber.clear();
  m.callingPartyNumber.clear();
  m.ncpi.clear();
  return m;
}

const std::uint8_t kBlock[2049] = {};

// What stands in the table before the message.
enum Before {
  kNothing,
  kInSlot,       // the call 0x101, taken into slot 0, in the given state
  kWithoutSlot,  // the connection 0x101 in the given state, holding no slot
  kFaxInSlot,    // as kInSlot, having reached Connected first: its fax runs
  kFaxEnded,     // the call 0x101 reached Connected and ended: handed over
  kTableFull,    // 8 connections, PLCI 0x101 to 0x801, none in a slot
};

struct Given {
  Before before = kNothing;
  ConnectionState state = Disconnected;
  int initiator = 0;
};

// One row: state before, message in, actions out, state after. The state after
// is that of the connection the message names (its PLCI, or the PLCI in the
// low 16 bits of its NCCI): "<state> ncci=<hex|-> init=<0|1> slot=<n|->" or
// "none", with " awaiting" while the call of slot 0 awaits forwarding.
struct Row {
  const char* name;
  Given given;
  ReceivedCapiMessage message;
  std::vector<std::string> actions;
  std::string after;
  bool rejectCallerId = false;
  bool captureFails = false;
};

bool HasNcci(ConnectionState s) { return s == B_ConnectPending || s == Connected || s == B_DisconnectPending; }

void Prepare(const Given& given, CConnectionTable& table, CCallStateMachine& machine) {
  switch (given.before) {
    case kNothing: return;
    case kInSlot:
    case kFaxInSlot:
    case kFaxEnded: machine.Handle_Indication(ConnectInd(kPlci, "5551234", "0301234567")); break;
    case kWithoutSlot: table[table.Allocate()].plci = kPlci; break;
    case kTableFull:
      for (std::uint32_t i = 1; i <= 8; ++i) {
        int id = table.Allocate();
        table[id].plci = i << 8 | 1;
        table[id].state = D_Connected;
      }
      return;
  }
  if (given.before == kFaxInSlot || given.before == kFaxEnded) {
    table[0].state = B_ConnectPending;
    table[0].ncci = kNcci;
    machine.Handle_Indication(Ind(CapiCommand::kConnectB3Active, kNcci));
  }
  if (given.before == kFaxEnded) {
    machine.Handle_Indication(DisconnectB3Ind(9600, 1, ""));
    machine.Handle_Indication(Ind(CapiCommand::kDisconnect, kPlci));
    return;
  }
  table[0].state = given.state;
  table[0].initiator = given.initiator;
  table[0].ncci = HasNcci(given.state) ? kNcci : kNoId;
}

std::string After(const CConnectionTable& table, const CCallStateMachine& machine, std::uint32_t plci) {
  std::string s = "none";
  int id = table.FindByPlci(plci);
  if (id >= 0) {
    const CapiConnection& c = table[id];
    char ncci[16] = "-";
    if (c.ncci != kNoId) std::snprintf(ncci, sizeof ncci, "%x", c.ncci);
    int slot = machine.Slot(0) == id ? 0 : machine.Slot(1) == id ? 1 : -1;
    s = std::string(ConnectionStateName(c.state)) + " ncci=" + ncci + " init=" + std::to_string(c.initiator) +
        " slot=" + (slot < 0 ? "-" : std::to_string(slot));
  }
  if (machine.AwaitingForwarding()) s += " awaiting";
  return s;
}

void RunRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CConnectionTable table;
    CCallSide side;
    CCallStateMachine machine(table, side, side, row.rejectCallerId);
    Prepare(row.given, table, machine);
    side.trace.clear();
    side.captureFails = row.captureFails;
    if (row.message.subcommand == CapiSubcommand::kConf)
      machine.Handle_Confirmation(row.message);
    else
      machine.Handle_Indication(row.message);
    EXPECT_EQ(side.trace, row.actions);
    EXPECT_EQ(After(table, machine, row.message.address & 0xFFFF), row.after);
    EXPECT_EQ(machine.Slot(1), -1);  // a second call never gets one
  }
}

const std::vector<std::string> kAccepted = {
    "resolve 5551234",
    "put ALERT_REQ #0 0x101",
    "log Incoming call, ID 0, caller: \"0301234567\"",
    "open 0301234567",
    "answered /faxes/0301234567.sff",
    "log call assigned to slot 0 ",
    "put CONNECT_RESP #0 0x101 reject=0 fax b3",
    "log state change slot 0 ID 0: D_ConnectPending",
};
const std::string kBusy = "log no free slot available, rejecting call... ";
const std::string kBadNcci = "log Error: invalid NCCI in DATA_B3_IND in function Handle_Indication";
const std::string kBadData = "log Error: malformed parameter in DATA_B3_IND in function Handle_Indication";
const std::string kDataResp = "put DATA_B3_RESP #7 0x10101 handle=256";
const std::string kNotHandled = "log Error: Indication not handled in function Handle_Indication";

TEST(CallStateMachineTest, IndicationTable) {
  using enum CapiCommand;
  RunRows({
      // CONNECT_IND
      {"call for a configured number: alerted, captured, accepted into slot 0",
       {},
       ConnectInd(kPlci, "5551234", "0301234567"),
       kAccepted,
       "D_ConnectPending ncci=- init=0 slot=0"},
      {"call for another number: an entry, no answer",
       {},
       ConnectInd(kPlci, "4444", "0301"),
       {"resolve 4444"},
       "Disconnected ncci=- init=0 slot=-"},
      {"called number struct of length 1 reads as empty",
       {},
       ConnectInd(kPlci, "", "0301"),
       {"resolve "},
       "Disconnected ncci=- init=0 slot=-"},
      {"unanswered call signalled again reuses its entry",
       {kWithoutSlot, Disconnected},
       ConnectInd(kPlci, "5551234", "0301234567"),
       kAccepted,
       "D_ConnectPending ncci=- init=0 slot=0"},
      {"no caller number while RejectCallerID is on: Reject 2, no file",
       {},
       ConnectInd(kPlci, "5551234", ""),
       {"resolve 5551234", "put ALERT_REQ #0 0x101", "log Incoming call, ID 0, caller: \"\"",
        "put CONNECT_RESP #0 0x101 reject=2 fax", "log Fax call without CallerID or StationID, rejecting call... "},
       "D_ConnectPending ncci=- init=0 slot=-",
       true},
      {"capture file that cannot be opened: no answer",
       {},
       ConnectInd(kPlci, "5551234", "0301"),
       {"resolve 5551234", "put ALERT_REQ #0 0x101", "log Incoming call, ID 0, caller: \"0301\"", "open 0301",
        "log could not open file: \"/faxes/0301.sff\" "},
       "D_ConnectPending ncci=- init=0 slot=-",
       false,
       true},
      {"second concurrent call is busy: Reject 3",
       {kInSlot, Connected},
       ConnectInd(0x201, "5551234", "0302"),
       {"resolve 5551234", "put ALERT_REQ #0 0x201", "log Incoming call, ID 1, caller: \"0302\"", kBusy,
        "put CONNECT_RESP #0 0x201 reject=3 fax"},
       "D_ConnectPending ncci=- init=0 slot=-"},
      {"call the instant after the last fax was handed over is taken",
       {kFaxEnded},
       ConnectInd(0x201, "5551234", "0302"),
       {"resolve 5551234", "put ALERT_REQ #0 0x201", "log Incoming call, ID 0, caller: \"0302\"", "open 0302",
        "answered /faxes/0302.sff", "log call assigned to slot 0 ", "put CONNECT_RESP #0 0x201 reject=0 fax b3",
        "log state change slot 0 ID 0: D_ConnectPending"},
       "D_ConnectPending ncci=- init=0 slot=0"},
      {"ninth call finds no entry: Reject 2 with the indication's number",
       {kTableFull},
       ConnectInd(0x901, "5551234", "0309"),
       {"put CONNECT_RESP #7 0x901 reject=2"},
       "none"},
      {"CONNECT_IND with a struct past its end",
       {},
       Malformed(ConnectInd(kPlci, "5551234", "0301")),
       {"log Error: malformed parameter in CONNECT_IND in function Handle_Indication"},
       "none"},
      {"CONNECT_IND for a PLCI in use",
       {kInSlot, D_Connected},
       ConnectInd(kPlci, "5551234", "0301"),
       {"log Error: CONNECT_IND for a PLCI in use in function Handle_Indication"},
       "D_Connected ncci=- init=0 slot=0"},
      // CONNECT_ACTIVE_IND
      {"CONNECT_ACTIVE_IND",
       {kInSlot, D_ConnectPending},
       Ind(kConnectActive, kPlci),
       {"put CONNECT_ACTIVE_RESP #7 0x101", "log state change slot 0 ID 0: D_Connected"},
       "D_Connected ncci=- init=0 slot=0"},
      {"CONNECT_ACTIVE_IND with the initiator flag asks for the B3 connection",
       {kInSlot, D_ConnectPending, 1},
       Ind(kConnectActive, kPlci),
       {"put CONNECT_ACTIVE_RESP #7 0x101", "log state change slot 0 ID 0: D_Connected", "put CONNECT_B3_REQ #0 0x101"},
       "D_Connected ncci=- init=1 slot=0"},
      {"CONNECT_ACTIVE_IND, unknown PLCI",
       {},
       Ind(kConnectActive, kPlci),
       {"put CONNECT_ACTIVE_RESP #7 0x101"},
       "none"},
      // CONNECT_B3_IND
      {"CONNECT_B3_IND stores the NCCI",
       {kInSlot, D_Connected},
       Ind(kConnectB3, kNcci),
       {"put CONNECT_B3_RESP #7 0x10101 reject=0", "log state change slot 0 ID 0: B_ConnectPending"},
       "B_ConnectPending ncci=10101 init=0 slot=0"},
      {"CONNECT_B3_IND, unknown PLCI", {}, Ind(kConnectB3, kNcci), {"put CONNECT_B3_RESP #7 0x10101 reject=0"}, "none"},
      // CONNECT_B3_ACTIVE_IND
      {"CONNECT_B3_ACTIVE_IND clears the initiator flag; slot 0 awaits forwarding",
       {kInSlot, B_ConnectPending, 1},
       Ind(kConnectB3Active, kNcci),
       {"put CONNECT_B3_ACTIVE_RESP #7 0x10101", "log state change slot 0 ID 0: Connected"},
       "Connected ncci=10101 init=0 slot=0 awaiting"},
      {"CONNECT_B3_ACTIVE_IND without a slot: no text, nothing awaits",
       {kWithoutSlot, B_ConnectPending},
       Ind(kConnectB3Active, kNcci),
       {"put CONNECT_B3_ACTIVE_RESP #7 0x10101"},
       "Connected ncci=10101 init=0 slot=-"},
      {"CONNECT_B3_ACTIVE_IND, unknown NCCI",
       {},
       Ind(kConnectB3Active, kNcci),
       {"put CONNECT_B3_ACTIVE_RESP #7 0x10101"},
       "none"},
      // DATA_B3_IND
      {"DATA_B3_IND of slot 0: captured, then answered",
       {kInSlot, Connected},
       DataInd(kNcci, kBlock, 2048),
       {"append 2048", kDataResp},
       "Connected ncci=10101 init=0 slot=0"},
      {"empty DATA_B3_IND is answered",
       {kInSlot, Connected},
       DataInd(kNcci, nullptr, 0),
       {"append 0", kDataResp},
       "Connected ncci=10101 init=0 slot=0"},
      {"DATA_B3_IND longer than registered",
       {kInSlot, Connected},
       DataInd(kNcci, kBlock, 2049),
       {kBadData, kDataResp},
       "Connected ncci=10101 init=0 slot=0"},
      {"DATA_B3_IND with a length and no data",
       {kInSlot, Connected},
       DataInd(kNcci, nullptr, 4),
       {kBadData, kDataResp},
       "Connected ncci=10101 init=0 slot=0"},
      {"DATA_B3_IND without a slot: answered, not captured",
       {kWithoutSlot, Connected},
       DataInd(kNcci, kBlock, 4),
       {kDataResp},
       "Connected ncci=10101 init=0 slot=-"},
      {"DATA_B3_IND, unknown NCCI", {}, DataInd(kNcci, kBlock, 4), {kBadNcci, kDataResp}, "none"},
      {"DATA_B3_IND naming the unset NCCI",
       {kInSlot, D_Connected},
       DataInd(kNoId, kBlock, 4),
       {kBadNcci, "put DATA_B3_RESP #7 0xffffffff handle=256"},
       "none"},
      // DISCONNECT_B3_IND
      {"DISCONNECT_B3_IND from the sender: the fax is handed over before the response",
       {kFaxInSlot, Connected},
       DisconnectB3Ind(9600, 2, "+49 30 7654321"),
       {"hand over pages=2", "put DISCONNECT_B3_RESP #7 0x10101", "log state change slot 0 ID 0: D_Connected"},
       "D_Connected ncci=- init=0 slot=0"},
      {"DISCONNECT_B3_IND with a reason: the fax is handed over incomplete",
       {kFaxInSlot, Connected},
       DisconnectB3Ind(9600, 1, "", 0x3490),
       {"hand over pages=1 incomplete=the sender ended the call before the last page (reason 0x3490)",
        "put DISCONNECT_B3_RESP #7 0x10101", "log state change slot 0 ID 0: D_Connected"},
       "D_Connected ncci=- init=0 slot=0"},
      {"DISCONNECT_B3_IND before the fax began: nothing to hand over",
       {kInSlot, B_ConnectPending},
       DisconnectB3Ind(9600, 2, "", 0x3490),
       {"put DISCONNECT_B3_RESP #7 0x10101", "log state change slot 0 ID 0: D_Connected"},
       "D_Connected ncci=- init=0 slot=0"},
      {"DISCONNECT_B3_IND with the initiator flag clears the call",
       {kFaxInSlot, B_DisconnectPending, 1},
       DisconnectB3Ind(9600, 2, ""),
       {"hand over pages=2", "put DISCONNECT_B3_RESP #7 0x10101", "log state change slot 0 ID 0: D_Connected",
        "put DISCONNECT_REQ #0 0x101"},
       "D_Connected ncci=- init=1 slot=0"},
      {"DISCONNECT_B3_IND with an NCPI past its end",
       {kFaxInSlot, Connected},
       Malformed(DisconnectB3Ind(9600, 2, "")),
       {"log Error: malformed parameter in DISCONNECT_B3_IND in function Handle_Indication", "hand over pages=0",
        "put DISCONNECT_B3_RESP #7 0x10101", "log state change slot 0 ID 0: D_Connected"},
       "D_Connected ncci=- init=0 slot=0"},
      {"DISCONNECT_B3_IND, unknown NCCI",
       {},
       DisconnectB3Ind(9600, 2, ""),
       {"put DISCONNECT_B3_RESP #7 0x10101"},
       "none"},
      // DISCONNECT_IND
      {"DISCONNECT_IND of a call that never began its fax: answered first, call dropped, slot and entry freed",
       {kInSlot, D_Connected},
       Ind(kDisconnect, kPlci),
       {"put DISCONNECT_RESP #7 0x101", "log state change slot 0 ID 0: Disconnected", "dropped /faxes/0301234567.sff"},
       "none"},
      {"DISCONNECT_IND in the middle of the fax: the pages so far are handed over incomplete",
       {kFaxInSlot, Connected},
       Ind(kDisconnect, kPlci),
       {"put DISCONNECT_RESP #7 0x101", "log state change slot 0 ID 0: Disconnected",
        "hand over pages=0 incomplete=the line was cleared before the fax protocol ended"},
       "none"},
      {"DISCONNECT_IND without a slot frees the entry quietly",
       {kWithoutSlot, D_ConnectPending},
       Ind(kDisconnect, kPlci),
       {"put DISCONNECT_RESP #7 0x101"},
       "none"},
      {"DISCONNECT_IND, unknown PLCI", {}, Ind(kDisconnect, kPlci), {"put DISCONNECT_RESP #7 0x101"}, "none"},
      // INFO_IND and the rest
      {"INFO_IND",
       {kInSlot, D_Connected},
       Ind(kInfo, kPlci),
       {"put INFO_RESP #7 0x101"},
       "D_Connected ncci=- init=0 slot=0"},
      {"indication of no known command", {}, Ind(static_cast<CapiCommand>(0x7e), kPlci), {kNotHandled}, "none"},
      {"LISTEN is no indication", {}, Ind(kListen, kPlci), {kNotHandled}, "none"},
  });
}

TEST(CallStateMachineTest, ConfirmationTable) {
  using enum CapiCommand;
  const std::string e = "log Error: Info value 0x2001 indicates error, function Handle_Confirmation";
  RunRows({
      {"ALERT_CONF with Info 0x0001 is success", {}, Conf(kAlert, kPlci, 0x0001), {}, "none"},
      {"ALERT_CONF, error",
       {},
       Conf(kAlert, kPlci, 0x2001),
       {e, "log Error: Info != 0 in ALERT_CONF in function Handle_Confirmation"},
       "none"},
      {"LISTEN_CONF", {}, Conf(kListen, 1, 0), {}, "none"},
      {"LISTEN_CONF, error",
       {},
       Conf(kListen, 1, 0x2001),
       {e, "log Error: Info != 0 in LISTEN_CONF in function Handle_Confirmation"},
       "none"},
      {"INFO_CONF", {}, Conf(kInfo, kPlci, 0), {}, "none"},
      {"INFO_CONF with Info 0x0100, the first error",
       {},
       Conf(kInfo, kPlci, 0x0100),
       {"log Error: Info value 0x100 indicates error, function Handle_Confirmation",
        "log Error: Info != 0 in INFO_CONF in function Handle_Confirmation"},
       "none"},
      // DISCONNECT_CONF
      {"DISCONNECT_CONF with Info 0x00FF is success",
       {kInSlot, D_Connected, 1},
       Conf(kDisconnect, kPlci, 0x00FF),
       {"log state change slot 0 ID 0: D_DisconnectPending"},
       "D_DisconnectPending ncci=- init=1 slot=0"},
      {"DISCONNECT_CONF, unknown PLCI", {}, Conf(kDisconnect, kPlci, 0), {}, "none"},
      {"DISCONNECT_CONF, error, unknown PLCI",
       {},
       Conf(kDisconnect, kPlci, 0x2001),
       {e, "log Error: invalid PLCI in DISCONNECT_CONF in function Handle_Confirmation"},
       "none"},
      {"DISCONNECT_CONF, error, known PLCI",
       {kInSlot, D_Connected},
       Conf(kDisconnect, kPlci, 0x2001),
       {e},
       "D_Connected ncci=- init=0 slot=0"},
      // CONNECT_B3_CONF
      {"CONNECT_B3_CONF stores the NCCI",
       {kInSlot, D_Connected, 1},
       Conf(kConnectB3, kNcci, 0),
       {"log state change slot 0 ID 0: B_ConnectPending"},
       "B_ConnectPending ncci=10101 init=1 slot=0"},
      {"CONNECT_B3_CONF, unknown PLCI", {}, Conf(kConnectB3, kNcci, 0), {}, "none"},
      {"CONNECT_B3_CONF, error, unknown PLCI",
       {},
       Conf(kConnectB3, kNcci, 0x2001),
       {e, "log Error: invalid PLCI in CONNECT_B3_CONF in function Handle_Confirmation"},
       "none"},
      {"CONNECT_B3_CONF, error, known PLCI: the call is cleared",
       {kInSlot, D_Connected, 1},
       Conf(kConnectB3, kNcci, 0x2001),
       {e, "put DISCONNECT_REQ #0 0x101"},
       "D_Connected ncci=- init=1 slot=0"},
      // DISCONNECT_B3_CONF
      {"DISCONNECT_B3_CONF sets the initiator flag",
       {kInSlot, Connected},
       Conf(kDisconnectB3, kNcci, 0),
       {"log state change slot 0 ID 0: B_DisconnectPending"},
       "B_DisconnectPending ncci=10101 init=1 slot=0"},
      {"DISCONNECT_B3_CONF, unknown NCCI", {}, Conf(kDisconnectB3, kNcci, 0), {}, "none"},
      {"DISCONNECT_B3_CONF, error, unknown NCCI",
       {},
       Conf(kDisconnectB3, kNcci, 0x2001),
       {e, "log Error: invalid NCCI in DISCONNECT_B3_CONF in function Handle_Confirmation"},
       "none"},
      {"DISCONNECT_B3_CONF, error, known NCCI",
       {kInSlot, Connected},
       Conf(kDisconnectB3, kNcci, 0x2001),
       {e},
       "Connected ncci=10101 init=0 slot=0"},
      // DATA_B3_CONF and the rest
      {"DATA_B3_CONF", {}, Conf(kDataB3, kNcci, 0), {}, "none"},
      {"DATA_B3_CONF, error", {}, Conf(kDataB3, kNcci, 0x2001), {e}, "none"},
      {"confirmation not handled",
       {},
       Conf(kConnect, kPlci, 0),
       {"log Error: Confirmation not handled in function Handle_Confirmation"},
       "none"},
      {"confirmation not handled, error",
       {},
       Conf(static_cast<CapiCommand>(0x7e), kPlci, 0x2001),
       {e, "log Error: Confirmation not handled in function Handle_Confirmation"},
       "none"},
  });
}

class CallStateMachineWalk : public ::testing::Test {
 protected:
  void Feed(const ReceivedCapiMessage& m) { machine_.Handle_Indication(m); }
  void TakeCall(std::uint32_t plci, const std::string& caller) {
    Feed(ConnectInd(plci, "5551234", caller));
    std::uint32_t ncci = 0x10000 | plci;
    Feed(Ind(CapiCommand::kConnectActive, plci));
    Feed(Ind(CapiCommand::kConnectB3, ncci));
    Feed(Ind(CapiCommand::kConnectB3Active, ncci));
  }

  CConnectionTable table_;
  CCallSide side_;
  CCallStateMachine machine_{table_, side_, side_, false};
};

TEST_F(CallStateMachineWalk, DisconnectAllStartsTheTearDownByState) {
  const std::pair<ConnectionState, std::vector<std::string>> rows[] = {
      {Disconnected, {}},
      {D_ConnectPending, {"put DISCONNECT_REQ #0 0x101"}},
      {D_Connected, {"put DISCONNECT_REQ #0 0x101"}},
      {B_ConnectPending, {"put DISCONNECT_B3_REQ #0 0x10101"}},
      {Connected, {"put DISCONNECT_B3_REQ #0 0x10101"}},
      {B_DisconnectPending, {"put DISCONNECT_REQ #0 0x101"}},
      {D_DisconnectPending, {}},
  };
  for (const auto& [state, actions] : rows) {
    SCOPED_TRACE(ConnectionStateName(state));
    machine_.Reset();
    Feed(ConnectInd(kPlci, "5551234", "0301"));
    table_[0].state = state;
    table_[0].ncci = HasNcci(state) ? kNcci : kNoId;
    side_.trace.clear();
    machine_.DisconnectAll();
    EXPECT_EQ(side_.trace, actions);
    EXPECT_EQ(table_[0].initiator, actions.empty() ? 0 : 1);
  }
  // Ids of no connection start nothing.
  side_.trace.clear();
  machine_.Disconnect(-1);
  machine_.Disconnect(table_.Size());
  EXPECT_TRUE(side_.trace.empty());
}

TEST_F(CallStateMachineWalk, FaxIsHandedOverOnceWithItsResultsAndTheRecordIsFreeForTheNextCall) {
  const std::uint8_t block[3] = {1, 2, 3};
  TakeCall(kPlci, "0301234567");
  ASSERT_TRUE(machine_.AwaitingForwarding());
  Feed(DataInd(kNcci, block, sizeof block));
  Feed(DisconnectB3Ind(9600, 2, " +49 30 7654321"));
  ASSERT_EQ(side_.handedOver.size(), 1u);
  EXPECT_FALSE(machine_.AwaitingForwarding());
  Feed(Ind(CapiCommand::kDisconnect, kPlci));
  EXPECT_TRUE(machine_.SlotsFree());
  EXPECT_EQ(table_.InUseCount(), 0);
  ASSERT_EQ(side_.handedOver.size(), 1u);

  const FaxCallRecord& call = side_.handedOver[0];
  EXPECT_EQ(call.captureFilePath, "/faxes/0301234567.sff");
  EXPECT_EQ(call.callerNumber, "0301234567");
  EXPECT_EQ(call.recipients, "fax@example.com;");
  EXPECT_EQ(call.rate, 9600);
  EXPECT_EQ(call.pages, 2);
  EXPECT_EQ(call.remoteStationId, "49307654321");
  EXPECT_EQ(call.incomplete, "");
  EXPECT_NE(call.startTime, 0);
  EXPECT_LE(call.startTime, call.endTime);
  EXPECT_EQ(machine_.Record().recipients, "");

  // The line is free again, and the next call's record starts afresh.
  TakeCall(0x201, "0302");
  EXPECT_EQ(machine_.Slot(0), 0);
  EXPECT_EQ(machine_.Record().callerNumber, "0302");
  EXPECT_EQ(machine_.Record().pages, 0);
  EXPECT_EQ(machine_.Record().remoteStationId, "");
  EXPECT_EQ(machine_.ConnectedCalls(), 2u);
}

TEST_F(CallStateMachineWalk, CallCutShortIsHandedOverWithWhyAndOneThatNeverBeganIsDropped) {
  // A stop: the tear-down's own DISCONNECT_B3_IND carries no reason.
  TakeCall(kPlci, "0301");
  machine_.CutShort("the service stopped during the call");
  machine_.DisconnectAll();
  Feed(DisconnectB3Ind(9600, 1, ""));
  ASSERT_EQ(side_.handedOver.size(), 1u);
  EXPECT_EQ(side_.handedOver[0].incomplete, "the service stopped during the call");

  // A lost link: no indication comes; handed over at once, and only once.
  machine_.Reset();
  TakeCall(kPlci, "0302");
  machine_.CutShort("the CAPI link was lost during the call");
  machine_.AbandonCall();
  machine_.AbandonCall();
  ASSERT_EQ(side_.handedOver.size(), 2u);
  EXPECT_EQ(side_.handedOver[1].callerNumber, "0302");
  EXPECT_EQ(side_.handedOver[1].incomplete, "the CAPI link was lost during the call");

  // Answered, never connected: dropped, whether the network clears it or not.
  machine_.Reset();
  Feed(ConnectInd(kPlci, "5551234", "0303"));
  Feed(Ind(CapiCommand::kDisconnect, kPlci));
  machine_.Reset();
  Feed(ConnectInd(kPlci, "5551234", "0304"));
  machine_.AbandonCall();
  EXPECT_EQ(side_.handedOver.size(), 2u);
  EXPECT_EQ(std::count(side_.trace.begin(), side_.trace.end(), "dropped /faxes/0303.sff"), 1);
  EXPECT_EQ(std::count(side_.trace.begin(), side_.trace.end(), "dropped /faxes/0304.sff"), 1);
}

TEST_F(CallStateMachineWalk, ResetForgetsConnectionsSlotsAndTheWaitingCall) {
  TakeCall(kPlci, "0301");
  Feed(ConnectInd(0x201, "4444", "0302"));
  machine_.Reset();
  EXPECT_EQ(table_.InUseCount(), 0);
  EXPECT_TRUE(machine_.SlotsFree());
  EXPECT_FALSE(machine_.AwaitingForwarding());
  EXPECT_EQ(machine_.Record().recipients, "");
}

// Two slots: two calls side by side, each with its own data and record,
// each handed over when its own fax ends; a third finds both taken.
TEST_F(CallStateMachineWalk, TwoSlotsCarryTwoCallsSideBySide) {
  machine_.SetCallSlots(2);
  machine_.Reset();
  const std::uint8_t block[5] = {1, 2, 3, 4, 5};
  TakeCall(0x101, "0301");
  TakeCall(0x201, "0302");
  Feed(ConnectInd(0x301, "5551234", "0303"));
  EXPECT_EQ(std::count(side_.trace.begin(), side_.trace.end(), kBusy), 1);
  EXPECT_EQ(machine_.CallsInProgress(), 2);
  side_.trace.clear();
  Feed(DataInd(0x10201, block, 5));
  Feed(DataInd(0x10101, block, 3));
  ReceivedCapiMessage end = DisconnectB3Ind(9600, 2, "");
  end.address = 0x10201;
  Feed(end);
  Feed(Ind(CapiCommand::kDisconnect, 0x201));
  EXPECT_EQ(machine_.Slot(1), -1);
  EXPECT_EQ(machine_.Slot(0), 0);
  EXPECT_TRUE(machine_.AwaitingForwarding());
  Feed(DisconnectB3Ind(14400, 1, ""));  // the first call's NCCI
  const std::vector<std::string> wanted = {"append 5 slot=1", "append 3", "hand over pages=2 slot=1",
                                           "hand over pages=1"};
  std::vector<std::string> effects;
  for (const auto& line : side_.trace)
    if (line.starts_with("append") || line.starts_with("hand over")) effects.push_back(line);
  EXPECT_EQ(effects, wanted);
  ASSERT_EQ(side_.handedOver.size(), 2u);
  EXPECT_EQ(side_.handedOver[0].callerNumber, "0302");
  EXPECT_EQ(side_.handedOver[1].callerNumber, "0301");
}

}  // namespace
}  // namespace kestrel
