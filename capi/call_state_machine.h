// CCallStateMachine: the reception's control logic for fax calls, fed one
// decoded CAPI message at a time and answering with actions. It owns the use
// of the connection table and each connection's ConnectionState, the call
// slots (one per B-channel, or one for a line that takes one call at a time),
// the accept and reject rules for incoming calls, and each slot's
// FaxCallRecord: announced when the call is answered, handed over the moment
// DISCONNECT_B3_IND reports that call's fax ended (before that indication is
// answered), dropped when the call ends before the fax protocol started. The
// calls of different slots never wait for each other.
//
// It trusts nothing in a message: ids that name no connection skip the steps
// that change the table, and a block longer than the registered 2048 bytes is
// not captured. It makes no CAPI call, opens no file and starts no thread:
// whatever it decides goes out through ICallActions, in order.
//
// Not synchronised: driven from one thread, the reception worker's.
// Failures: none to report; what goes wrong is logged through ICallActions
// or written into the call's record.
#pragma once

#include <string>
#include <vector>

#include "capi/call_actions.h"
#include "capi/call_messages.h"
#include "capi/connection_table.h"
#include "capi/fax_call_record.h"
#include "capi/recipient_resolver.h"

namespace kestrel {

class CCallStateMachine {
 public:
  // The most calls a line can have in progress at once.
  static constexpr int kMaxSlots = 32;

  // `rejectCallerId`: a call without a caller number is rejected (Reject 2).
  // One slot takes calls until SetCallSlots says otherwise.
  CCallStateMachine(CConnectionTable& table, IRecipientResolver& resolver, ICallActions& actions, bool rejectCallerId);
  CCallStateMachine(const CCallStateMachine&) = delete;
  CCallStateMachine& operator=(const CCallStateMachine&) = delete;

  // Forgets every connection, every slot and the calls in progress, as at the
  // start of a session or after the CAPI link was lost (AbandonCall first).
  void Reset();
  // How many calls may be in progress at once (1..kMaxSlots): a call that
  // arrives while every slot is taken is rejected as busy (Reject 3). Takes
  // effect at the next Reset.
  void SetCallSlots(int slots);
  int CallSlots() const { return static_cast<int>(slots_.size()); }
  // For the next incoming call on; the calls in progress keep their answer.
  void SetRejectCallerId(bool rejectCallerId) { rejectCallerId_ = rejectCallerId; }

  // The two dispatchers of the pump, one per subcommand.
  void Handle_Indication(const ReceivedCapiMessage& message);
  void Handle_Confirmation(const ReceivedCapiMessage& message);

  // Starts the tear-down of one connection, according to its state; nothing
  // for Disconnected, D_DisconnectPending or an id of no connection.
  void Disconnect(int id);
  // Starts the tear-down of the connections in every slot. The caller goes on
  // feeding messages until SlotsFree().
  void DisconnectAll();

  // Every call in progress is ended by this side for `why` (words that
  // follow "Incomplete: "): its fax, when handed over, is marked incomplete
  // with it instead of with what the sender reports.
  void CutShort(const std::string& why);
  // Ends every call in progress without waiting for the network (a stop
  // whose tear-down ran out of time, a lost link): a call that reached
  // Connected and was not handed over yet is handed over now, an answered
  // one that did not is dropped. The slots stay taken until Reset.
  void AbandonCall();

  // A call reached Connected and has not been handed over yet.
  bool AwaitingForwarding() const;
  // How many calls reached Connected so far: a short call may connect and
  // end within one pump, and must still be noticed.
  unsigned ConnectedCalls() const { return connectedCalls_; }
  // The connection id in `slot`, or -1 when it is free or no such slot exists.
  int Slot(int slot) const;
  bool SlotsFree() const { return CallsInProgress() == 0; }
  // Slots taken by a call (answered and not yet cleared).
  int CallsInProgress() const;
  // The call of `slot` being received, or its last one.
  const FaxCallRecord& Record(int slot = 0) const { return slots_.at(slot).record; }

 private:
  // Where the call of a slot stands with the forwarding side.
  enum class CallPhase {
    kNone,       // no call, or its record is done with
    kAnswered,   // announced; no page can have come yet
    kConnected,  // the fax protocol runs; the record must stay as it is
    kEnded,      // handed over; the connection is still being cleared
  };

  struct CallSlot {
    int id = -1;  // connection id, -1 when free
    CallPhase phase = CallPhase::kNone;
    std::string cutShort;  // why this side ended the call; empty when it did not
    FaxCallRecord record;
  };

  void OnConnectInd(const ReceivedCapiMessage& message);
  void OnDisconnectB3Ind(const ReceivedCapiMessage& message);
  void IncomingCall(int id, const std::string& callerNumber, const std::string& recipients);
  void HandOverFax(int slot);
  void EndCall(int slot);
  void SetState(int id, ConnectionState state);
  void StateChange(int id, ConnectionState state);
  int SlotOf(int id) const;
  int FreeSlot() const;
  void Send(CapiCommand command, CapiSubcommand subcommand, std::uint16_t messageNumber, std::uint32_t address);
  void SendConnectResp(std::uint16_t messageNumber, std::uint32_t plci, std::uint16_t reject, bool faxProtocols,
                       bool b3Configuration);
  void Log(std::string_view text) { actions_.WriteEventText(text); }

  CConnectionTable& table_;
  IRecipientResolver& resolver_;
  ICallActions& actions_;
  bool rejectCallerId_;

  int callSlots_ = 1;
  std::vector<CallSlot> slots_;
  unsigned connectedCalls_ = 0;
};

}  // namespace kestrel
