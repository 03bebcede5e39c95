// The handlers of every CAPI indication and confirmation of a fax call, the
// answer to an incoming call, the slots with their calls, and the tear-down
// of connections.
//
// Message fields arrive bounds-checked by the worker; what is checked here is
// what the values claim: the ids (looked up, never used as indexes) and the
// length of a data block.
#include "capi/call_state_machine.h"

#include <algorithm>
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
    : table_(table), resolver_(resolver), actions_(actions), rejectCallerId_(rejectCallerId), slots_(1) {}

void CCallStateMachine::SetCallSlots(int slots) { callSlots_ = std::clamp(slots, 1, kMaxSlots); }

void CCallStateMachine::Reset() {
  table_.Clear();
  slots_.assign(static_cast<std::size_t>(callSlots_), CallSlot{});
}

int CCallStateMachine::Slot(int slot) const {
  if (slot < 0 || slot >= CallSlots()) return -1;
  return slots_[static_cast<std::size_t>(slot)].id;
}

int CCallStateMachine::CallsInProgress() const {
  int n = 0;
  for (const CallSlot& s : slots_) n += s.id != -1 ? 1 : 0;
  return n;
}

bool CCallStateMachine::AwaitingForwarding() const {
  for (const CallSlot& s : slots_)
    if (s.phase == CallPhase::kConnected) return true;
  return false;
}

int CCallStateMachine::SlotOf(int id) const {
  for (int s = 0; s < CallSlots(); ++s)
    if (slots_[static_cast<std::size_t>(s)].id == id) return s;
  return -1;
}

int CCallStateMachine::FreeSlot() const { return SlotOf(-1); }

void CCallStateMachine::SetState(int id, ConnectionState state) {
  table_[id].state = state;
  StateChange(id, state);
}

void CCallStateMachine::StateChange(int id, ConnectionState state) {
  int slot = SlotOf(id);
  if (slot < 0) return;
  Log(Printf("state change slot %d ID %d: %s", slot, id, ConnectionStateName(state)));
  CallSlot& call = slots_[static_cast<std::size_t>(slot)];
  if (state == Connected && call.phase == CallPhase::kAnswered) {
    call.phase = CallPhase::kConnected;
    ++connectedCalls_;
  }
  if (state == Disconnected) {
    // A network that clears the call without DISCONNECT_B3_IND still leaves
    // the pages that arrived, but nothing says the last one came.
    if (call.phase == CallPhase::kConnected && call.cutShort.empty())
      call.cutShort = "the line was cleared before the fax protocol ended";
    EndCall(slot);
    call.phase = CallPhase::kNone;
    call.id = -1;
  }
}

void CCallStateMachine::HandOverFax(int slot) {
  CallSlot& call = slots_[static_cast<std::size_t>(slot)];
  if (!call.cutShort.empty()) call.record.incomplete = call.cutShort;
  call.record.endTime = std::time(nullptr);
  actions_.FaxEnded(slot, call.record);
  call.record.recipients.clear();
  call.phase = CallPhase::kEnded;
}

// Hands the call over or drops it, whichever its phase asks for.
void CCallStateMachine::EndCall(int slot) {
  CallSlot& call = slots_[static_cast<std::size_t>(slot)];
  if (call.phase == CallPhase::kConnected) HandOverFax(slot);
  if (call.phase == CallPhase::kAnswered) {
    actions_.CallDropped(slot, call.record);
    call.phase = CallPhase::kEnded;
  }
}

void CCallStateMachine::CutShort(const std::string& why) {
  for (CallSlot& call : slots_)
    if (call.id != -1) call.cutShort = why;
}

void CCallStateMachine::AbandonCall() {
  for (int s = 0; s < CallSlots(); ++s) EndCall(s);
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
  if (id < 0 || id >= table_.Size()) return;
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
  for (const CallSlot& call : slots_) {
    int id = call.id;
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
  // A slot per channel: only a call that finds every one taken is turned
  // away as busy, so the sender tries again later.
  const int slot = FreeSlot();
  if (slot < 0) {
    Log("no free slot available, rejecting call... ");
    SendConnectResp(0, plci, kRejectUserBusy, true, false);
    return;
  }
  std::string path;
  if (!actions_.OpenCapture(slot, callerNumber, path)) {
    Log("could not open file: \"" + path + "\" ");
    return;
  }
  // The slot's record now belongs to this call; nothing of its previous call stays.
  CallSlot& call = slots_[static_cast<std::size_t>(slot)];
  call.record = FaxCallRecord{};
  call.record.captureFilePath = path;
  call.record.startTime = std::time(nullptr);
  call.record.callerNumber = callerNumber;
  call.record.recipients = recipients;
  call.cutShort.clear();
  // Announced before it is answered: a crash from here on still leaves the
  // forwarding side knowing of the capture.
  actions_.CallAnswered(call.record);
  call.id = id;
  call.phase = CallPhase::kAnswered;
  Log("call assigned to slot " + std::to_string(slot) + " ");
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
    // The results belong to the call of that connection's slot.
    if (int slot = SlotOf(id); slot >= 0) {
      CallSlot& call = slots_[static_cast<std::size_t>(slot)];
      FaxResults results =
          ParseFaxResults(reinterpret_cast<const std::uint8_t*>(message.ncpi.data()), message.ncpi.size());
      call.record.rate = results.rate;
      call.record.pages = results.pages;
      call.record.remoteStationId = results.remoteStationId;
      if (call.phase == CallPhase::kConnected) {
        if (message.reasonB3 != 0) call.record.incomplete = SenderEndedEarly(message.reasonB3);
        HandOverFax(slot);
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
      } else if (int slot = SlotOf(id); slot >= 0) {
        actions_.AppendData(slot, message.data, message.dataLength);
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
