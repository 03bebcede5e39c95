// Who wants to know when the forwarding side has finished with a fax: the
// desktop shows a notification for it. Called on the forwarding thread, once
// per fax, after its mail was accepted or queued (or found no recipient) and
// its journal row written; never for a fax still being received or waiting.
#pragma once

#include <string>
#include <vector>

#include "capi/fax_call_record.h"

namespace kestrel {

struct ForwardedFax {
  FaxCallRecord call;
  bool queued = false;  // kept in the mail queue instead of mailed
  bool mailed = false;  // accepted by the mail server
  std::string faxFile;  // the file the journal names (the PDF, TIFF, first page or capture file)
  // Addresses the mail server refused; the others got the mail. Those refused
  // for now wait in the mail queue, those refused for good are dropped.
  std::vector<std::string> refusedRecipients;
};

class IForwardedFaxListener {
 public:
  virtual ~IForwardedFaxListener() = default;
  virtual void FaxForwarded(const ForwardedFax& fax) = 0;
};

}  // namespace kestrel
