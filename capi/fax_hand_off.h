// What the reception worker does with every fax call it answers: tell the
// forwarding side when the call is answered (so that a crash during the call
// still leaves the capture to be forwarded at the next start), hand the
// call's record over the moment the fax is complete or cut short, and drop
// the record of a call that never became a fax. Owned here because the
// worker is the caller; implemented by the forwarding subsystem, which
// records each step durably before the call returns and mails the fax on a
// thread of its own.
#pragma once

#include "capi/fax_call_record.h"

namespace kestrel {

class IFaxHandOff {
 public:
  virtual ~IFaxHandOff() = default;
  // Called on the worker thread once the capture file of an answered call
  // exists and `call` names it (captureFilePath, callerNumber, startTime,
  // recipients). Records the call as being received and sets
  // `call.receptionEntry`, which HandOver and CallDropped are given back.
  // Returns once that record is on disk (or, when it cannot be written,
  // after logging why: the call is received all the same).
  virtual void CallAnswered(FaxCallRecord& call) = 0;
  // Called on the worker thread when the fax is complete (DISCONNECT_B3_IND)
  // or cut short (the sender, a stop or a lost link ended it, a write
  // failed: `call.incomplete` says why). Returns once the fax is recorded
  // for forwarding (or, when it cannot be, kept for this run).
  virtual void HandOver(const FaxCallRecord& call) = 0;
  // Called on the worker thread for an answered call that never reached the
  // fax protocol (no page can have come): the record of CallAnswered goes,
  // the capture file stays where it is.
  virtual void CallDropped(const FaxCallRecord& call) = 0;
};

}  // namespace kestrel
