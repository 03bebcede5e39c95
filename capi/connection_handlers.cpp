// The worker's connection state machine: the handlers of every CAPI
// indication and confirmation, the answer to an incoming call, the slots,
// and the tear-down of connections.
//
// Fields of the current message are read only after CanDecompose let
// libcapi20 decompose it, and every struct through ReadCapiStruct, which keeps
// each read inside the message's own length.
#include <cstdio>
#include <thread>

#include "capi/capi_message.h"
#include "capi/fax_receive_thread.h"
#include "core/event_log.h"

namespace kestrel {
namespace {

constexpr _cword kFaxG3 = 4;  // B1, B2 and B3 protocol: T.30 fax group 3
constexpr _cword kRejectNormalClearing = 2;
constexpr _cword kRejectUserBusy = 3;
constexpr unsigned kMaxB3DataLength = 2048;
constexpr unsigned kHighestSuccessInfo = 0x00FF;
// A stop waits this long for the network to confirm the tear-down.
constexpr auto kStopTeardownLimit = std::chrono::seconds(5);

std::string Printf(const char* format, int a, int b, const char* c) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

}  // namespace

int CFaxReceiveThread::SlotOf(int id) const {
  for (int s = 0; s < 2; ++s)
    if (slots_[s] == id) return s;
  return -1;
}

void CFaxReceiveThread::SetState(int id, ConnectionState state) {
  table_[id].state = state;
  StateChange(id, state);
}

void CFaxReceiveThread::StateChange(int id, ConnectionState state) {
  int slot = SlotOf(id);
  if (slot < 0) return;
  Log(Printf("state change slot %d ID %d: %s", slot, id, ConnectionStateName(state)));
  if (slot == 0 && state == Connected) awaitingForwarding_ = true;
  if (state == Disconnected) {
    capture_.Close();
    slots_[slot] = -1;
  }
}

void CFaxReceiveThread::Disconnect(int id) {
  if (id < 0) return;
  CapiConnection& c = table_[id];
  _cmsg m;
  switch (c.state) {
    case B_ConnectPending:
    case Connected:
      c.initiator = 1;
      capi_fill_DISCONNECT_B3_REQ(&m, static_cast<_cword>(appId_), 0, c.ncci, nullptr);
      Put(m);
      break;
    case D_ConnectPending:
    case D_Connected:
    case B_DisconnectPending:
      c.initiator = 1;
      capi_fill_DISCONNECT_REQ(&m, static_cast<_cword>(appId_), 0, c.plci, nullptr, nullptr, nullptr, nullptr);
      Put(m);
      break;
    default:
      break;
  }
}

void CFaxReceiveThread::DisconnectAll() {
  for (int s = 0; s < 2; ++s) {
    int id = slots_[s];
    if (id < 0) continue;
    ConnectionState st = table_[id].state;
    if (st != Disconnected && st != D_DisconnectPending) Disconnect(id);
  }
  // Waits for the network without a pause of its own; only a stop bounds it.
  bool stopping = false;
  auto deadline = std::chrono::steady_clock::now();
  while (true) {
    Handle_CAPI_Msg();
    if (SlotsFree() || linkLost_) return;
    if (StopRequested()) {
      if (!stopping) deadline = std::chrono::steady_clock::now() + kStopTeardownLimit;
      stopping = true;
      if (std::chrono::steady_clock::now() >= deadline) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void CFaxReceiveThread::SendConnectResp(std::uint16_t messageNumber, std::uint32_t plci, std::uint16_t reject,
                                        bool withProtocols, bool withB3Configuration) {
  _cmsg m;
  _cword protocol = withProtocols ? kFaxG3 : 0;
  auto* b3 = withB3Configuration
                 ? reinterpret_cast<_cstruct>(const_cast<char*>(b3Configuration_.data()))
                 : nullptr;
  capi_fill_CONNECT_RESP(&m, static_cast<_cword>(appId_), messageNumber, plci, reject, protocol, protocol,
                         protocol, nullptr, nullptr, b3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
  Put(m);
}

bool CFaxReceiveThread::IncomingCall(int id, const std::string& callerNumber, const std::string& recipients) {
  Log("Incoming call, ID " + std::to_string(id) + ", caller: \"" + callerNumber + "\"");
  std::uint32_t plci = table_[id].plci;
  if (settings_.RejectCallerID && callerNumber.empty()) {
    SendConnectResp(0, plci, kRejectNormalClearing, true, false);
    Log("Fax call without CallerID or StationID, rejecting call... ");
    return false;
  }
  // The capture file and the record exist once: a call while another one
  // holds them is turned away as busy, so the sender tries again later.
  if (slots_[0] != -1 || awaitingForwarding_) {
    Log("no free slot available, rejecting call... ");
    SendConnectResp(0, plci, kRejectUserBusy, true, false);
    return false;
  }
  std::string path;
  if (!capture_.Create(settings_.ReceivedDir, callerNumber, path)) {
    Log("could not open file: \"" + path + "\" ");
    return false;
  }
  // Data of this call is captured from now on, also when it connects before
  // the reception cycle has begun.
  capture_.On();
  // The record now belongs to this call; nothing of the previous call stays.
  record_.captureFilePath = path;
  record_.startTime = std::time(nullptr);
  record_.endTime = 0;
  record_.callerNumber = callerNumber;
  record_.recipients = recipients;
  record_.remoteStationId.clear();
  record_.pages = 0;
  record_.rate = 0;
  slots_[0] = id;
  Log("call assigned to slot 0 ");
  SendConnectResp(0, plci, 0, true, true);
  return true;
}

void CFaxReceiveThread::OnConnectInd() {
  std::uint32_t plci = current_.adr.adrPLCI;
  std::string called, calling;
  bool wellFormed = ReadCapiStruct(currentRaw_, currentLength_, current_.CalledPartyNumber, called) &&
                    ReadCapiStruct(currentRaw_, currentLength_, current_.CallingPartyNumber, calling);
  if (!wellFormed) {
    // A call that cannot be read is not answered; the network deals with it.
    Log("Error: malformed parameter in CONNECT_IND in function Handle_Indication");
    return;
  }
  int id = table_.FindByPlci(plci);
  if (id >= 0 && table_[id].state != Disconnected) {
    Log("Error: CONNECT_IND for a PLCI in use in function Handle_Indication");
    return;
  }
  if (id < 0) {
    id = table_.Allocate();
    if (id < 0) {
      SendConnectResp(current_.Messagenumber, plci, kRejectNormalClearing, false, false);
      return;
    }
    table_[id].plci = plci;
    table_[id].controller = static_cast<std::int32_t>(plci & 0xFF);
  }
  CapiConnection& c = table_[id];
  c.calledPartyNumber = called;
  c.callingPartyNumber = calling;
  // The MSN check answers for this call only: its recipients join the record
  // when the call is taken, never the record of a call in progress.
  std::string recipients;
  if (!resolver_.AcceptsCalledNumber(c.CalledNumber(), recipients)) return;
  _cmsg m;
  capi_fill_ALERT_REQ(&m, static_cast<_cword>(appId_), 0, plci, nullptr, nullptr, nullptr, nullptr, nullptr);
  Put(m);
  c.state = D_ConnectPending;
  IncomingCall(id, c.CallerNumber(), recipients);
  SetState(id, D_ConnectPending);
}

void CFaxReceiveThread::Handle_Indication() {
  const _cword appl = static_cast<_cword>(appId_);
  const _cword number = current_.Messagenumber;
  const _cdword address = current_.adr.adrController;
  _cmsg m;
  switch (current_.Command) {
    case CAPI_CONNECT:
      OnConnectInd();
      break;
    case CAPI_CONNECT_ACTIVE: {
      int id = table_.FindByPlci(address);
      capi_fill_CONNECT_ACTIVE_RESP(&m, appl, number, address);
      Put(m);
      if (id < 0) break;
      SetState(id, D_Connected);
      if (table_[id].initiator) {
        capi_fill_CONNECT_B3_REQ(&m, appl, 0, table_[id].plci, nullptr);
        Put(m);
      }
      break;
    }
    case CAPI_CONNECT_B3: {
      int id = table_.FindByPlci(address & 0xFFFF);
      if (id >= 0) table_[id].ncci = address;
      capi_fill_CONNECT_B3_RESP(&m, appl, number, address, 0, nullptr);
      Put(m);
      if (id >= 0) SetState(id, B_ConnectPending);
      break;
    }
    case CAPI_CONNECT_B3_ACTIVE: {
      int id = table_.FindByNcci(address);
      if (id >= 0) table_[id].initiator = 0;
      capi_fill_CONNECT_B3_ACTIVE_RESP(&m, appl, number, address);
      Put(m);
      if (id >= 0) SetState(id, Connected);
      break;
    }
    case CAPI_DATA_B3: {
      int id = table_.FindByNcci(address);
      if (id < 0) {
        Log("Error: invalid NCCI in DATA_B3_IND in function Handle_Indication");
      } else if (current_.DataLength > kMaxB3DataLength || (current_.DataLength > 0 && !current_.Data)) {
        Log("Error: malformed parameter in DATA_B3_IND in function Handle_Indication");
      } else if (SlotOf(id) == 0) {
        capture_.DataAvailable(current_.Data, current_.DataLength);
      }
      // Every block is answered, so that the adapter gets its buffer back.
      capi_fill_DATA_B3_RESP(&m, appl, number, address, current_.DataHandle);
      Put(m);
      break;
    }
    case CAPI_DISCONNECT_B3: {
      int id = table_.FindByNcci(address);
      if (id >= 0) {
        table_[id].ncci = kNoId;
        std::string ncpi;
        if (!ReadCapiStruct(currentRaw_, currentLength_, current_.NCPI, ncpi))
          Log("Error: malformed parameter in DISCONNECT_B3_IND in function Handle_Indication");
        // The record holds the results of the call in slot 0 only.
        if (SlotOf(id) == 0) {
          FaxResults results =
              ParseFaxResults(reinterpret_cast<const std::uint8_t*>(ncpi.data()), ncpi.size());
          record_.rate = results.rate;
          record_.pages = results.pages;
          record_.remoteStationId = results.remoteStationId;
        }
      }
      capi_fill_DISCONNECT_B3_RESP(&m, appl, number, address);
      Put(m);
      if (id < 0) break;
      SetState(id, D_Connected);
      if (table_[id].initiator) {
        capi_fill_DISCONNECT_REQ(&m, appl, 0, table_[id].plci, nullptr, nullptr, nullptr, nullptr);
        Put(m);
      }
      break;
    }
    case CAPI_DISCONNECT: {
      capi_fill_DISCONNECT_RESP(&m, appl, number, address);
      Put(m);
      int id = table_.FindByPlci(address);
      if (id < 0) break;
      SetState(id, Disconnected);
      table_.Free(id);
      break;
    }
    case CAPI_INFO:
      capi_fill_INFO_RESP(&m, appl, number, address);
      Put(m);
      break;
    default:
      Log("Error: Indication not handled in function Handle_Indication");
      break;
  }
}

void CFaxReceiveThread::Handle_Confirmation() {
  const unsigned info = current_.Info;
  const _cdword address = current_.adr.adrController;
  const bool ok = info <= kHighestSuccessInfo;
  if (!ok) {
    char text[96];
    std::snprintf(text, sizeof text, "Error: Info value 0x%x indicates error, function Handle_Confirmation", info);
    Log(text);
  }
  switch (current_.Command) {
    case CAPI_ALERT:
      if (!ok) Log("Error: Info != 0 in ALERT_CONF in function Handle_Confirmation");
      break;
    case CAPI_LISTEN:
      if (!ok) Log("Error: Info != 0 in LISTEN_CONF in function Handle_Confirmation");
      break;
    case CAPI_INFO:
      if (!ok) Log("Error: Info != 0 in INFO_CONF in function Handle_Confirmation");
      break;
    case CAPI_DISCONNECT: {
      int id = table_.FindByPlci(address);
      if (ok) {
        if (id >= 0) SetState(id, D_DisconnectPending);
      } else if (id < 0) {
        Log("Error: invalid PLCI in DISCONNECT_CONF in function Handle_Confirmation");
      }
      break;
    }
    case CAPI_CONNECT_B3: {
      int id = table_.FindByPlci(address & 0xFFFF);
      if (ok) {
        if (id >= 0) {
          table_[id].ncci = address;
          SetState(id, B_ConnectPending);
        }
      } else if (id < 0) {
        Log("Error: invalid PLCI in CONNECT_B3_CONF in function Handle_Confirmation");
      } else {
        _cmsg m;
        capi_fill_DISCONNECT_REQ(&m, static_cast<_cword>(appId_), 0, table_[id].plci, nullptr, nullptr, nullptr,
                                 nullptr);
        Put(m);
      }
      break;
    }
    case CAPI_DISCONNECT_B3: {
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
    case CAPI_DATA_B3:
      break;
    default:
      Log("Error: Confirmation not handled in function Handle_Confirmation");
      break;
  }
}

}  // namespace kestrel
