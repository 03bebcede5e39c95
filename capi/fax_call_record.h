// FaxCallRecord: what the reception worker knows of a fax call it has just
// finished, handed to the forwarding step on the worker's own thread. One
// instance per call slot, reused for the slot's calls: when a call is taken
// every field starts afresh (a fax never carries the previous call's pages,
// rate or station id), and the recipients text, which belongs to that one
// call only, never to a call beside it, is emptied after its forwarding step.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kestrel {

struct FaxCallRecord {
  std::string captureFilePath;  // full path of the .sff file
  std::string callerNumber;     // calling party digits as signalled; may be empty
  std::string remoteStationId;  // sender's fax identifier, digits only; may be empty
  std::uint16_t pages = 0;      // pages the fax protocol reported
  std::uint16_t rate = 0;       // bit/s the fax protocol reported
  std::time_t startTime = 0;    // capture file created
  std::time_t endTime = 0;      // end of the reception cycle
  std::string recipients;       // addresses, each followed by ";", or EmailAll
  // Empty for a fax received whole. Otherwise why pages may be missing, in
  // words that follow "Incomplete: " in the mail and the journal, e.g. "the
  // sender ended the call (reason 0x3302)" or "the capture file could not be
  // written: No space left on device".
  std::string incomplete;
  // The forwarding side's name for the call while it is received (set by
  // IFaxHandOff::CallAnswered); empty when none could be written.
  std::string receptionEntry;
};

}  // namespace kestrel
