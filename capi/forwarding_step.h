// The step the session loop runs after every reception cycle: convert, mail or
// queue, journal. Implemented by the forwarding subsystem; owned here because
// the worker is the caller. Runs on the worker thread; no CAPI message is
// fetched while it runs.
#pragma once

#include <string>

#include "capi/fax_call_record.h"
#include "core/service_settings.h"

namespace kestrel {

class IForwardingStep {
 public:
  virtual ~IForwardingStep() = default;
  // 0 when the mail was sent, 1 when it was queued instead. The session loop
  // ignores the result and empties call.recipients afterwards.
  // `applicationFolder` (with its trailing "/") holds the queue folder MailQueue.
  virtual int ForwardReceivedFax(const FaxCallRecord& call, const ServiceSettings& settings,
                                 const std::string& applicationFolder) = 0;
};

}  // namespace kestrel
