// The handlers of every CAPI indication and confirmation of a fax call, the
// answer to an incoming call, the slots, and the tear-down of connections.
//
// Message fields arrive bounds-checked by the worker; what is checked here is
// what the values claim: the ids (looked up, never used as indexes) and the
// length of a data block.
#include "capi/call_state_machine.h"

#include <cstdio>
#include <ctime>

#include "capi/fax_capture.h"

namespace kestrel {
namespace {

constexpr std::uint16_t kRejectNormalClearing = 2;
constexpr std::uint16_t kRejectUserBusy = 3;
constexpr std::size_t kMaxB3DataLength = 2048;  // as registered

std::string Printf(const char* format, int a, int b, const char* c) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

std::string SenderEndedEarly(std::uint16_t reasonB3) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "the sender ended the call before the last page (reason 0x%04X)", reasonB3);
  return buf;
}

}  // namespace

CCallStateMachine::CCallStateMachine(CConnectionTable& table, IRecipientResolver& resolver, ICallActions& actions,
                                     bool rejectCallerId)
    : table_(table), resolver_(resolver), actions_(actions), rejectCallerId_(rejectCallerId) {}

void CCallStateMachine::Reset() {
  table_.Clear();
  slots_[0] = slots_[1] = -1;
  phase_ = CallPhase::kNone;
  cutShort_.clear();
  record_.recipients.clear();
}

int CCallStateMachine::SlotOf(int id) const {
  for (int s = 0; s < kSlots; ++s)
    if (slots_[s] == id) return s;
  return -1;
}

void CCallStateMachine::SetState(int id, ConnectionState state) {
  table_[id].state = state;
  StateChange(id, state);
}

void CCallStateMachine::StateChange(int id, ConnectionState state) {
  int slot = SlotOf(id);
  if (slot < 0) return;
  Log(Printf("state change slot %d ID %d: %s", slot, id, ConnectionStateName(state)));
  if (slot != 0) {
    if (state == Disconnected) slots_[slot] = -1;
    return;
  }
  if (state == Connected && phase_ == CallPhase::kAnswered) {
    phase_ = CallPhase::kConnected;
    ++connectedCalls_;
  }
  if (state == Disconnected) {
    // A network that clears the call without DISCONNECT_B3_IND still leaves
    // the pages that arrived, but nothing says the last one came.
    if (phase_ == CallPhase::kConnected) {
      if (cutShort_.empty()) cutShort_ = "the line was cleared before the fax protocol ended";
      HandOverFax();
    }
    if (phase_ == CallPhase::kAnswered) actions_.CallDropped(record_);
    phase_ = CallPhase::kNone;
    slots_[slot] = -1;
  }
}

void CCallStateMachine::HandOverFax() {
  if (!cutShort_.empty()) record_.incomplete = cutShort_;
  record_.endTime = std::time(nullptr);
  actions_.FaxEnded(record_);
  record_.recipients.clear();
  phase_ = CallPhase::kEnded;
}

void CCallStateMachine::CutShort(const std::string& why) {
  if (slots_[0] != -1) cutShort_ = why;
}

void CCallStateMachine::AbandonCall() {
  if (phase_ == CallPhase::kConnected) HandOverFax();
  if (phase_ == CallPhase::kAnswered) actions_.CallDropped(record_);
  if (phase_ != CallPhase::kNone) phase_ = CallPhase::kEnded;
}

void CCallStateMachine::Send(CapiCommand command, CapiSubcommand subcommand, std::uint16_t messageNumber,
                             std::uint32_t address) {
  OutgoingCapiMessage m;
  m.command = command;
  m.subcommand = subcommand;
  m.messageNumber = messageNumber;
  m.address = address;
  actions_.Put(m);
}

void CCallStateMachine::SendConnectResp(std::uint16_t messageNumber, std::uint32_t plci, std::uint16_t reject,
                                        bool faxProtocols, bool b3Configuration) {
  OutgoingCapiMessage m;
  m.command = CapiCommand::kConnect;
  m.subcommand = CapiSubcommand::kResp;
  m.messageNumber = messageNumber;
  m.address = plci;
  m.reject = reject;
  m.faxProtocols = faxProtocols;
  m.b3Configuration = b3Configuration;
  actions_.Put(m);
}

void CCallStateMachine::Disconnect(int id) {
  if (id < 0 || id >= CConnectionTable::kSize) return;
  CapiConnection& c = table_[id];
  switch (c.state) {
    case B_ConnectPending:
    case Connected:
      c.initiator = 1;
      Send(CapiCommand::kDisconnectB3, CapiSubcommand::kReq, 0, c.ncci);
      break;
    case D_ConnectPending:
    case D_Connected:
    case B_DisconnectPending:
      c.initiator = 1;
      Send(CapiCommand::kDisconnect, CapiSubcommand::kReq, 0, c.plci);
      break;
    default: break;
  }
}

void CCallStateMachine::DisconnectAll() {
  for (int s = 0; s < kSlots; ++s) {
    int id = slots_[s];
    if (id < 0) continue;
    ConnectionState st = table_[id].state;
    if (st != Disconnected && st != D_DisconnectPending) Disconnect(id);
  }
}

void CCallStateMachine::IncomingCall(int id, const std::string& callerNumber, const std::string& recipients) {
  Log("Incoming call, ID " + std::to_string(id) + ", caller: \"" + callerNumber + "\"");
  std::uint32_t plci = table_[id].plci;
  if (rejectCallerId_ && callerNumber.empty()) {
    SendConnectResp(0, plci, kRejectNormalClearing, true, false);
    Log("Fax call without CallerID or StationID, rejecting call... ");
    return;
  }
  // The capture file and the record exist once: a call while another one
  // holds them is turned away as busy, so the sender tries again later.
  if (slots_[0] != -1) {
    Log("no free slot available, rejecting call... ");
    SendConnectResp(0, plci, kRejectUserBusy, true, false);
    return;
  }
  std::string path;
  if (!actions_.OpenCapture(callerNumber, path)) {
    Log("could not open file: \"" + path + "\" ");
    return;
  }
  // The record now belongs to this call; nothing of the previous call stays.
  record_.captureFilePath = path;
  record_.startTime = std::time(nullptr);
  record_.endTime = 0;
  record_.callerNumber = callerNumber;
  record_.recipients = recipients;
  record_.remoteStationId.clear();
  record_.pages = 0;
  record_.rate = 0;
  record_.incomplete.clear();
  record_.receptionEntry.clear();
  cutShort_.clear();
  // Announced before it is answered: a crash from here on still leaves the
  // forwarding side knowing of the capture.
  actions_.CallAnswered(record_);
  slots_[0] = id;
  phase_ = CallPhase::kAnswered;
  Log("call assigned to slot 0 ");
  SendConnectResp(0, plci, 0, true, true);
}

void CCallStateMachine::OnConnectInd(const ReceivedCapiMessage& message) {
  if (!message.wellFormed) {
    // A call that cannot be read is not answered; the network deals with it.
    Log("Error: malformed parameter in CONNECT_IND in function Handle_Indication");
    return;
  }
  const std::uint32_t plci = message.address;
  int id = table_.FindByPlci(plci);
  if (id >= 0 && table_[id].state != Disconnected) {
    Log("Error: CONNECT_IND for a PLCI in use in function Handle_Indication");
    return;
  }
  if (id < 0) {
    id = table_.Allocate();
    if (id < 0) {
      SendConnectResp(message.messageNumber, plci, kRejectNormalClearing, false, false);
      return;
    }
    table_[id].plci = plci;
    table_[id].controller = static_cast<std::int32_t>(plci & 0xFF);
  }
  CapiConnection& c = table_[id];
  c.calledPartyNumber = message.calledPartyNumber;
  c.callingPartyNumber = message.callingPartyNumber;
  // The MSN check answers for this call only: its recipients join the record
  // when the call is taken, never the record of a call in progress.
  std::string recipients;
  if (!resolver_.AcceptsCalledNumber(c.CalledNumber(), recipients)) return;
  Send(CapiCommand::kAlert, CapiSubcommand::kReq, 0, plci);
  c.state = D_ConnectPending;  // silently: the slot is assigned only now
  IncomingCall(id, c.CallerNumber(), recipients);
  SetState(id, D_ConnectPending);
}

// The fax's end: the call is handed over before the indication is answered,
// so that a crash during the tear-down cannot lose it.
void CCallStateMachine::OnDisconnectB3Ind(const ReceivedCapiMessage& message) {
  const std::uint32_t address = message.address;
  int id = table_.FindByNcci(address);
  if (id >= 0) {
    table_[id].ncci = kNoId;
    if (!message.wellFormed) Log("Error: malformed parameter in DISCONNECT_B3_IND in function Handle_Indication");
    // The record holds the results of the call in slot 0 only.
    if (SlotOf(id) == 0) {
      FaxResults results =
          ParseFaxResults(reinterpret_cast<const std::uint8_t*>(message.ncpi.data()), message.ncpi.size());
      record_.rate = results.rate;
      record_.pages = results.pages;
      record_.remoteStationId = results.remoteStationId;
      if (phase_ == CallPhase::kConnected) {
        if (message.reasonB3 != 0) record_.incomplete = SenderEndedEarly(message.reasonB3);
        HandOverFax();
      }
    }
  }
  Send(CapiCommand::kDisconnectB3, CapiSubcommand::kResp, message.messageNumber, address);
  if (id < 0) return;
  SetState(id, D_Connected);
  if (table_[id].initiator) Send(CapiCommand::kDisconnect, CapiSubcommand::kReq, 0, table_[id].plci);
}

void CCallStateMachine::Handle_Indication(const ReceivedCapiMessage& message) {
  const std::uint16_t number = message.messageNumber;
  const std::uint32_t address = message.address;
  switch (message.command) {
    case CapiCommand::kConnect: OnConnectInd(message); break;
    case CapiCommand::kConnectActive: {
      int id = table_.FindByPlci(address);
      Send(CapiCommand::kConnectActive, CapiSubcommand::kResp, number, address);
      if (id < 0) break;
      SetState(id, D_Connected);
      if (table_[id].initiator) Send(CapiCommand::kConnectB3, CapiSubcommand::kReq, 0, table_[id].plci);
      break;
    }
    case CapiCommand::kConnectB3: {
      int id = table_.FindByPlci(address & 0xFFFF);
      if (id >= 0) table_[id].ncci = address;
      Send(CapiCommand::kConnectB3, CapiSubcommand::kResp, number, address);
      if (id >= 0) SetState(id, B_ConnectPending);
      break;
    }
    case CapiCommand::kConnectB3Active: {
      int id = table_.FindByNcci(address);
      if (id >= 0) table_[id].initiator = 0;
      Send(CapiCommand::kConnectB3Active, CapiSubcommand::kResp, number, address);
      if (id >= 0) SetState(id, Connected);
      break;
    }
    case CapiCommand::kDataB3: {
      int id = table_.FindByNcci(address);
      if (id < 0) {
        Log("Error: invalid NCCI in DATA_B3_IND in function Handle_Indication");
      } else if (message.dataLength > kMaxB3DataLength || (message.dataLength > 0 && !message.data)) {
        Log("Error: malformed parameter in DATA_B3_IND in function Handle_Indication");
      } else if (SlotOf(id) == 0) {
        actions_.AppendData(message.data, message.dataLength);
      }
      // Every block is answered, so that the adapter gets its buffer back.
      OutgoingCapiMessage resp;
      resp.command = CapiCommand::kDataB3;
      resp.subcommand = CapiSubcommand::kResp;
      resp.messageNumber = number;
      resp.address = address;
      resp.dataHandle = message.dataHandle;
      actions_.Put(resp);
      break;
    }
    case CapiCommand::kDisconnectB3: OnDisconnectB3Ind(message); break;
    case CapiCommand::kDisconnect: {
      Send(CapiCommand::kDisconnect, CapiSubcommand::kResp, number, address);
      int id = table_.FindByPlci(address);
      if (id < 0) break;
      SetState(id, Disconnected);
      table_.Free(id);
      break;
    }
    case CapiCommand::kInfo: Send(CapiCommand::kInfo, CapiSubcommand::kResp, number, address); break;
    default: Log("Error: Indication not handled in function Handle_Indication"); break;
  }
}

void CCallStateMachine::Handle_Confirmation(const ReceivedCapiMessage& message) {
  const unsigned info = message.info;
  const std::uint32_t address = message.address;
  const bool ok = info <= kHighestSuccessInfo;
  if (!ok) {
    char text[96];
    std::snprintf(text, sizeof text, "Error: Info value 0x%x indicates error, function Handle_Confirmation", info);
    Log(text);
  }
  switch (message.command) {
    case CapiCommand::kAlert:
      if (!ok) Log("Error: Info != 0 in ALERT_CONF in function Handle_Confirmation");
      break;
    case CapiCommand::kListen:
      if (!ok) Log("Error: Info != 0 in LISTEN_CONF in function Handle_Confirmation");
      break;
    case CapiCommand::kInfo:
      if (!ok) Log("Error: Info != 0 in INFO_CONF in function Handle_Confirmation");
      break;
    case CapiCommand::kDisconnect: {
      int id = table_.FindByPlci(address);
      if (ok) {
        if (id >= 0) SetState(id, D_DisconnectPending);
      } else if (id < 0) {
        Log("Error: invalid PLCI in DISCONNECT_CONF in function Handle_Confirmation");
      }
      break;
    }
    case CapiCommand::kConnectB3: {
      int id = table_.FindByPlci(address & 0xFFFF);
      if (ok) {
        if (id >= 0) {
          table_[id].ncci = address;
          SetState(id, B_ConnectPending);
        }
      } else if (id < 0) {
        Log("Error: invalid PLCI in CONNECT_B3_CONF in function Handle_Confirmation");
      } else {
        Send(CapiCommand::kDisconnect, CapiSubcommand::kReq, 0, table_[id].plci);
      }
      break;
    }
    case CapiCommand::kDisconnectB3: {
      int id = table_.FindByNcci(address);
      if (ok) {
        if (id >= 0) {
          table_[id].initiator = 1;
          SetState(id, B_DisconnectPending);
        }
      } else if (id < 0) {
        Log("Error: invalid NCCI in DISCONNECT_B3_CONF in function Handle_Confirmation");
      }
      break;
    }
    case CapiCommand::kDataB3: break;
    default: Log("Error: Confirmation not handled in function Handle_Confirmation"); break;
  }
}

}  // namespace kestrel
