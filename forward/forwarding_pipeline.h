// CForwardingPipeline: the step after every received fax, as a short road of
// named steps: the recipient list (the call's MSN recipients, then the caller
// table's), the mail's texts, the conversion of the capture file into the
// page files of the chosen format, the pages attached, delivery through its
// own SMTP session or, when anything goes wrong, the mail saved into the mail
// queue for the monitor, and one journal row in every case. Everything it
// does is reported through the event log; nothing is shown.
//
// Runs on the reception worker thread, one fax at a time; one pipeline per
// worker (it remembers that the worker's SMTP port was defaulted).
#pragma once

#include <string>

#include "capi/forwarding_step.h"
#include "convert/sff_converter.h"

namespace kestrel {

class IEventLog;
class CRecipientResolver;
class CSMTPMessage;
class CSMTPSession;

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
  // The call's recipients text, ";", the caller table's recipients.
  std::string RecipientList(const FaxCallRecord& call);
  // Sender, recipients, subject and body text of the fax's mail.
  void ComposeMail(CSMTPMessage& message, const FaxCallRecord& call, const ServiceSettings& settings,
                   const std::string& recipientList);
  // Adds the files of the pages the conversion wrote, in order, up to the
  // first page it could not write; false ("Attachment not found.") when a
  // page is missing or nothing was written.
  bool AttachPages(CSMTPMessage& message, const ConvertedFax& pages);
  // Connects, sends and says goodbye; false after the failure was logged.
  bool Deliver(CSMTPSession& session, CSMTPMessage& message, const ServiceSettings& settings);
  // Saves the mail as the queue file of the fax.
  void Queue(CSMTPMessage& message, const std::string& applicationFolder, const std::string& captureFilePath);
  // One journal row naming the first file written (or, with none, the file
  // that would have stood for the fax).
  void RecordInJournal(const FaxCallRecord& call, ImageFormat format, const ConvertedFax& pages);

  IEventLog& log_;
  CRecipientResolver& resolver_;
  std::string journalConnectString_;
  bool portDefaulted_ = false;  // SMTPPort 0 was replaced by the standard port for this worker
  int replyTimeoutMs_ = 60000;
};

}  // namespace kestrel
