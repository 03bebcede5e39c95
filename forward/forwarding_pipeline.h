// CForwardingPipeline: the road of one received fax after the line, as named
// steps: the recipient list (the call's MSN recipients, then the caller
// table's), the mail's texts, the conversion of the capture file into the
// page files of the chosen format, the pages attached, delivery through an
// SMTP session or, when anything goes wrong, the mail saved into the mail
// queue for the monitor (only for the recipients still owed when the server
// took it for some; into the undeliverable folder when it refused the mail
// for good), and one journal row in every case. Everything it
// does is reported through the event log; nothing is shown.
//
// Each finished step is noted in the fax's entry and saved in the inbox
// before the next begins, so a fax resumed after a restart skips what was
// done: a mail accepted or queued is not sent again, a journal row not
// written twice.
//
// Runs on the forwarding thread, one fax at a time; one pipeline per
// forwarding thread (it remembers that the SMTP port was defaulted).
// Failures are logged by the step that meets them; Forward answers only
// whether the fax is done or waits for the next attempt. Nothing throws.
#pragma once

#include <atomic>
#include <string>

#include "convert/sff_converter.h"
#include "core/result.h"
#include "core/service_settings.h"
#include "forward/fax_entry.h"
#include "forward/mail_queue.h"

namespace kestrel {

class IEventLog;
class CFaxInbox;
class CRecipientResolver;
class CSMTPMessage;
class CSMTPSession;

enum class ForwardingOutcome {
  Done,      // mailed or queued, and journaled: the entry is removed
  TryLater,  // a step could not be made durable (pages or queue file not written)
};

class CForwardingPipeline {
 public:
  // `resolver` answers the caller-table lookup; `journalConnectString` is
  // handed to the journal insert (empty: the store's data source).
  CForwardingPipeline(IEventLog& log, CRecipientResolver& resolver, std::string journalConnectString = {});

  // Runs the steps `entry` has not finished yet, saving each in `inbox`.
  [[nodiscard]] ForwardingOutcome Forward(FaxEntry& entry, CFaxInbox& inbox, const ServiceSettings& settings,
                                          const std::string& applicationFolder);

  // How long the SMTP session waits for each reply (60 s unless a test
  // shortens it).
  void SetReplyTimeout(int milliseconds) { replyTimeoutMs_ = milliseconds; }
  // A flag that, once true, makes every SMTP wait give up at once.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

 private:
  // Converts, composes, and delivers or queues; false when the fax must wait
  // for a later attempt.
  [[nodiscard]] bool MailStep(FaxEntry& entry, CFaxInbox& inbox, CSMTPSession& session, const ServiceSettings& settings,
                              const std::string& applicationFolder);
  // The call's recipients text, ";", the caller table's recipients.
  [[nodiscard]] std::string RecipientList(const FaxCallRecord& call);
  // Sender, recipients and subject of the fax's mail.
  void ComposeMail(CSMTPMessage& message, const FaxCallRecord& call, const ServiceSettings& settings,
                   const std::string& recipientList);
  // The body text, with a line of the system's own for a fax that may lack
  // pages (the call was cut short, the capture ends within a page), one for
  // each page received with lines that could not be repaired, and one for
  // pages the converter refused; the same notes become the entry's journal
  // status (the damaged pages there in one sentence).
  void AddBody(CSMTPMessage& message, FaxEntry& entry, const ConvertedFax& pages);
  // Adds the files of the pages the conversion wrote, in order. When the
  // converter refused pages: every file it wrote and the capture file
  // itself. Otherwise up to the first page it could not write; false
  // ("Attachment not found.") when a page is missing or nothing was written.
  [[nodiscard]] bool AttachPages(CSMTPMessage& message, const ConvertedFax& pages, const std::string& captureFilePath);
  // Connects and sends; a failure is logged. The recipients the server
  // refused are the session's RefusedRecipients. With the OAuth login, the
  // access token comes from the token file of `applicationFolder`.
  [[nodiscard]] Status Deliver(CSMTPSession& session, CSMTPMessage& message, const ServiceSettings& settings,
                               const std::string& applicationFolder);
  // Saves the mail as a queue file of its own on `shelf` (an undeliverable
  // one told with the server's `reply`); false when it could not be written.
  [[nodiscard]] bool Queue(CSMTPMessage& message, const std::string& applicationFolder,
                           const std::string& captureFilePath, QueueShelf shelf, const std::string& reply);
  // One journal row naming the file the entry notes and this node (NodeName,
  // else the host name); none when a former run wrote it already.
  void RecordInJournal(const FaxEntry& entry, const ServiceSettings& settings);

  IEventLog& log_;
  CRecipientResolver& resolver_;
  std::string journalConnectString_;
  bool portDefaulted_ = false;  // SMTPPort 0 was replaced by the standard port for this thread
  int replyTimeoutMs_ = 60000;
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace kestrel
