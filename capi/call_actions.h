// What the call state machine asks of the reception worker, in the order it
// decides it: messages to put, the capture file of a call slot to open and
// fill, the call's record to pass to the forwarding side when the call is
// answered, when its fax ends and when it is dropped, and event texts. Each
// slot has a capture of its own, so calls in progress side by side never
// share a file. Owned here because the
// state machine is the caller; the worker carries the actions out with
// libcapi20, CFaxCapture and IFaxHandOff on its own thread. No action fails
// towards the machine: what goes wrong is logged or written into the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "capi/call_messages.h"
#include "capi/fax_call_record.h"

namespace kestrel {

class ICallActions {
 public:
  virtual ~ICallActions() = default;
  // Composes the message and puts it; the put's Info is not looked at.
  virtual void Put(const OutgoingCapiMessage& message) = 0;
  // Creates the capture file of the call in `slot` from `callerNumber` and
  // captures into it from now on. `path` is set in every case; false when the
  // file could not be opened (the call is then not answered).
  virtual bool OpenCapture(int slot, const std::string& callerNumber, std::string& path) = 0;
  // Appends a data block to the capture of `slot`, if capture is on and its file is open.
  virtual void AppendData(int slot, const std::uint8_t* data, std::size_t length) = 0;
  // The call is answered and `call` names its capture file: the forwarding
  // side records it (and may set `call.receptionEntry`).
  virtual void CallAnswered(FaxCallRecord& call) = 0;
  // The fax of the answered call is complete or cut short (`call.incomplete`
  // says why): the capture of `slot` is flushed to disk and closed, and the call handed
  // over. A capture that could not be written marks `call.incomplete`.
  // Returns once the forwarding side holds the call.
  virtual void FaxEnded(int slot, FaxCallRecord& call) = 0;
  // The answered call ended before the fax protocol started: the capture of
  // `slot` is closed and the forwarding side forgets the call.
  virtual void CallDropped(int slot, const FaxCallRecord& call) = 0;
  // One line for the event log, text exactly as given.
  virtual void WriteEventText(std::string_view text) = 0;
};

}  // namespace kestrel
