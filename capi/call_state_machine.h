// CCallStateMachine: the reception's control logic for fax calls, fed one
// decoded CAPI message at a time and answering with actions. It owns the use
// of the connection table and each connection's ConnectionState, the two call
// slots, the accept and reject rules for incoming calls, and the FaxCallRecord
// of the call being received, which it hands out once the call is finished.
//
// It trusts nothing in a message: ids that name no connection skip the steps
// that change the table, and a block longer than the registered 2048 bytes is
// not captured. It makes no CAPI call, opens no file and starts no thread:
// whatever it decides goes out through ICallActions, in order.
//
// Not synchronised: driven from one thread, the reception worker's.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "capi/call_actions.h"
#include "capi/call_messages.h"
#include "capi/connection_table.h"
#include "capi/fax_call_record.h"
#include "capi/recipient_resolver.h"

namespace kestrel {

class CCallStateMachine {
 public:
  // Slot 0 holds the call being received. The capture file and the record
  // exist once, so a call that arrives while slot 0 is taken, or while its
  // finished call waits to be forwarded, is rejected as busy (Reject 3) and
  // gets no slot: slot 1 stays free.
  static constexpr int kSlots = 2;

  // `rejectCallerId`: a call without a caller number is rejected (Reject 2).
  CCallStateMachine(CConnectionTable& table, IRecipientResolver& resolver, ICallActions& actions, bool rejectCallerId);
  CCallStateMachine(const CCallStateMachine&) = delete;
  CCallStateMachine& operator=(const CCallStateMachine&) = delete;

  // Forgets every connection, both slots and the call in progress, as at the
  // start of a session or after the CAPI link was lost.
  void Reset();

  // The two dispatchers of the pump, one per subcommand.
  void Handle_Indication(const ReceivedCapiMessage& message);
  void Handle_Confirmation(const ReceivedCapiMessage& message);

  // Starts the tear-down of one connection, according to its state; nothing
  // for Disconnected, D_DisconnectPending or an id of no connection.
  void Disconnect(int id);
  // Starts the tear-down of the connections in both slots. The caller goes on
  // feeding messages until SlotsFree().
  void DisconnectAll();

  // Hands out the finished call, after the reception cycle and DisconnectAll.
  // When the call of slot 0 reached Connected and `forward` holds (false when
  // the cycle was cut short), its record, completed with `endTime`, is
  // returned for the forwarding step. In every case the recipients text is
  // emptied and the next call may be taken.
  std::optional<FaxCallRecord> FinishCall(bool forward, std::time_t endTime);

  // The call of slot 0 reached Connected and has not been handed out yet.
  bool AwaitingForwarding() const { return awaitingForwarding_; }
  // The connection id in `slot` (0 or 1), or -1 when it is free.
  int Slot(int slot) const { return slots_[slot]; }
  bool SlotsFree() const { return slots_[0] == -1 && slots_[1] == -1; }
  // The call being received, or the last one.
  const FaxCallRecord& Record() const { return record_; }

 private:
  void OnConnectInd(const ReceivedCapiMessage& message);
  void IncomingCall(int id, const std::string& callerNumber, const std::string& recipients);
  void SetState(int id, ConnectionState state);
  void StateChange(int id, ConnectionState state);
  int SlotOf(int id) const;
  void Send(CapiCommand command, CapiSubcommand subcommand, std::uint16_t messageNumber, std::uint32_t address);
  void SendConnectResp(std::uint16_t messageNumber, std::uint32_t plci, std::uint16_t reject, bool faxProtocols,
                       bool b3Configuration);
  void Log(std::string_view text) { actions_.WriteEventText(text); }

  CConnectionTable& table_;
  IRecipientResolver& resolver_;
  ICallActions& actions_;
  const bool rejectCallerId_;

  int slots_[kSlots] = {-1, -1};
  // Set when the call in slot 0 reaches Connected, cleared when it is handed
  // out: until then its record must stay as it is.
  bool awaitingForwarding_ = false;
  FaxCallRecord record_;
};

}  // namespace kestrel
