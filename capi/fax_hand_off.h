// What the reception worker does with every fax it has captured: hand the
// call's record over to the forwarding side and go back to the line. Owned
// here because the worker is the caller; implemented by the forwarding
// subsystem, which records the fax durably before HandOver returns and mails
// it on a thread of its own.
#pragma once

#include "capi/fax_call_record.h"

namespace kestrel {

class IFaxHandOff {
 public:
  virtual ~IFaxHandOff() = default;
  // Called on the worker thread after the call has been cleared. Returns
  // once the fax is recorded (or, when it cannot be, kept for this run).
  virtual void HandOver(const FaxCallRecord& call) = 0;
};

}  // namespace kestrel
