// CForwardingPipeline: the step after every received fax. It converts the
// capture file into the page images of the chosen format, completes the
// recipient list (the call's MSN recipients, then the caller table's),
// composes one mail with the fixed body text and the pages attached, sends it
// through its own SMTP session or, when anything goes wrong, saves it into the
// mail queue for the monitor, and writes one journal row in every case.
// Everything it does is reported through the event log; nothing is shown.
//
// Runs on the reception worker thread, one fax at a time; one pipeline per
// worker (it remembers that the worker's SMTP port was defaulted to 25).
#pragma once

#include <string>

#include "capi/forwarding_step.h"

namespace kestrel {

class IEventLog;
class CRecipientResolver;

class CForwardingPipeline final : public IForwardingStep {
 public:
  // `resolver` answers the caller-table lookup; `journalConnectString` is
  // handed to the journal insert (empty: the store's data source).
  CForwardingPipeline(IEventLog& log, CRecipientResolver& resolver, std::string journalConnectString = {});

  int ForwardReceivedFax(const FaxCallRecord& call, const ServiceSettings& settings,
                         const std::string& applicationFolder) override;

  // How long the SMTP session waits for each reply (60 s unless a test
  // shortens it).
  void SetReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }

 private:
  IEventLog& log_;
  CRecipientResolver& resolver_;
  std::string journalConnectString_;
  bool portDefaulted_ = false;  // SMTPPort 0 was replaced by 25 for this worker
  int replyTimeoutMs_ = 60000;
};

}  // namespace kestrel
