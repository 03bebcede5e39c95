// CCallStateMachine: the reception's control logic for fax calls, fed one
// decoded CAPI message at a time and answering with actions. It owns the use
// of the connection table and each connection's ConnectionState, the two call
// slots, the accept and reject rules for incoming calls, and the FaxCallRecord
// of the call being received: announced when the call is answered, handed
// over the moment DISCONNECT_B3_IND reports the fax's end (before that
// indication is answered), dropped when the call ends before the fax
// protocol started.
//
// It trusts nothing in a message: ids that name no connection skip the steps
// that change the table, and a block longer than the registered 2048 bytes is
// not captured. It makes no CAPI call, opens no file and starts no thread:
// whatever it decides goes out through ICallActions, in order.
//
// Not synchronised: driven from one thread, the reception worker's.
#pragma once

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
  // exist once, so a call that arrives while slot 0 is taken is rejected as
  // busy (Reject 3) and gets no slot: slot 1 stays free.
  static constexpr int kSlots = 2;

  // `rejectCallerId`: a call without a caller number is rejected (Reject 2).
  CCallStateMachine(CConnectionTable& table, IRecipientResolver& resolver, ICallActions& actions, bool rejectCallerId);
  CCallStateMachine(const CCallStateMachine&) = delete;
  CCallStateMachine& operator=(const CCallStateMachine&) = delete;

  // Forgets every connection, both slots and the call in progress, as at the
  // start of a session or after the CAPI link was lost (AbandonCall first).
  void Reset();
  // For the next incoming call on; the call in progress keeps its answer.
  void SetRejectCallerId(bool rejectCallerId) { rejectCallerId_ = rejectCallerId; }

  // The two dispatchers of the pump, one per subcommand.
  void Handle_Indication(const ReceivedCapiMessage& message);
  void Handle_Confirmation(const ReceivedCapiMessage& message);

  // Starts the tear-down of one connection, according to its state; nothing
  // for Disconnected, D_DisconnectPending or an id of no connection.
  void Disconnect(int id);
  // Starts the tear-down of the connections in both slots. The caller goes on
  // feeding messages until SlotsFree().
  void DisconnectAll();

  // The call in slot 0 is ended by this side for `why` (words that follow
  // "Incomplete: "): its fax, when handed over, is marked incomplete with it
  // instead of with what the sender reports.
  void CutShort(const std::string& why);
  // Ends the call in slot 0 without waiting for the network (a stop whose
  // tear-down ran out of time, a lost link): a call that reached Connected
  // and was not handed over yet is handed over now, an answered one that did
  // not is dropped. The slot stays taken until Reset.
  void AbandonCall();

  // The call of slot 0 reached Connected and has not been handed over yet.
  bool AwaitingForwarding() const { return phase_ == CallPhase::kConnected; }
  // How many calls reached Connected in slot 0 so far: a short call may
  // connect and end within one pump, and must still be noticed.
  unsigned ConnectedCalls() const { return connectedCalls_; }
  // The connection id in `slot` (0 or 1), or -1 when it is free.
  int Slot(int slot) const { return slots_[slot]; }
  bool SlotsFree() const { return slots_[0] == -1 && slots_[1] == -1; }
  // The call being received, or the last one.
  const FaxCallRecord& Record() const { return record_; }

 private:
  // Where the call of slot 0 stands with the forwarding side.
  enum class CallPhase {
    kNone,       // no call, or its record is done with
    kAnswered,   // announced; no page can have come yet
    kConnected,  // the fax protocol runs; the record must stay as it is
    kEnded,      // handed over; the connection is still being cleared
  };

  void OnConnectInd(const ReceivedCapiMessage& message);
  void OnDisconnectB3Ind(const ReceivedCapiMessage& message);
  void IncomingCall(int id, const std::string& callerNumber, const std::string& recipients);
  void HandOverFax();
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
  bool rejectCallerId_;

  int slots_[kSlots] = {-1, -1};
  CallPhase phase_ = CallPhase::kNone;
  unsigned connectedCalls_ = 0;
  std::string cutShort_;  // why this side ended the call of slot 0; empty when it did not
  FaxCallRecord record_;
};

}  // namespace kestrel
