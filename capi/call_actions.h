// What the call state machine asks of the reception worker, in the order it
// decides it: messages to put, the capture file to open, fill and close, and
// event texts. Owned here because the state machine is the caller; the worker
// carries the actions out with libcapi20 and CFaxCapture on its own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "capi/call_messages.h"

namespace kestrel {

class ICallActions {
 public:
  virtual ~ICallActions() = default;
  // Composes the message and puts it; the put's Info is not looked at.
  virtual void Put(const OutgoingCapiMessage& message) = 0;
  // Creates the capture file of a call from `callerNumber` and captures from
  // now on. `path` is set in every case; false when the file could not be
  // opened (the call is then not answered).
  virtual bool OpenCapture(const std::string& callerNumber, std::string& path) = 0;
  // Appends a data block to the capture file, if capture is on and a file is open.
  virtual void AppendData(const std::uint8_t* data, std::size_t length) = 0;
  // Closes the capture file if it is open.
  virtual void CloseCapture() = 0;
  // One line for the event log, text exactly as given.
  virtual void WriteEventText(std::string_view text) = 0;
};

}  // namespace kestrel
