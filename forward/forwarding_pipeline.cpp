#include "forward/forwarding_pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include "convert/fax_file_names.h"
#include "core/event_log.h"
#include "forward/fax_inbox.h"
#include "forward/fax_mail_text.h"
#include "forward/mail_queue.h"
#include "forward/recipient_resolution.h"
#include "mail/mail_address.h"
#include "mail/smtp_message.h"
#include "mail/smtp_session.h"
#include "oauth/access_token_source.h"
#include "store/journal.h"

namespace kestrel {
namespace {

const std::vector<RefusedRecipient> kNoneRefused;

// Why pages may be missing when the call's record says nothing.
constexpr char kEndsWithinPage[] = "the received file ends within a page";

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

CForwardingPipeline::CForwardingPipeline(IEventLog& log, CRecipientResolver& resolver, std::string journalConnectString)
    : log_(log), resolver_(resolver), journalConnectString_(std::move(journalConnectString)) {}

ForwardingOutcome CForwardingPipeline::Forward(FaxEntry& entry, CFaxInbox& inbox, const ServiceSettings& settings,
                                               const std::string& applicationFolder) {
  // Lives until the journal row is written: a session left connected after a
  // failed send says QUIT only then.
  CSMTPSession session(log_);
  session.SetReplyTimeout(replyTimeoutMs_);
  session.SetStopFlag(stop_);

  if (entry.mail == MailStep::Pending) {
    if (!MailStep(entry, inbox, session, settings, applicationFolder)) return ForwardingOutcome::TryLater;
    // A failed save is logged; the journal and removal below finish the fax
    // all the same, and only a restart before them would mail it again.
    (void)inbox.Save(entry);
  }
  if (!entry.journaled) RecordInJournal(entry, settings);
  inbox.Remove(entry);
  return ForwardingOutcome::Done;
}

bool CForwardingPipeline::MailStep(FaxEntry& entry, CFaxInbox& inbox, CSMTPSession& session,
                                   const ServiceSettings& settings, const std::string& applicationFolder) {
  const FaxCallRecord& call = entry.call;
  CSMTPMessage message(log_);
  // A fax mailed again after a restart keeps the id of its first attempt, so
  // a recipient can tell a repeat; a new one's id is on disk before it is sent.
  if (entry.messageId.empty() || !message.SetMessageId(entry.messageId)) {
    entry.messageId = message.MessageId();
    // A failed save is logged; the mail goes out with this id regardless, and
    // only a repeat after a restart would carry another.
    (void)inbox.Save(entry);
  }
  ComposeMail(message, call, settings, RecipientList(call));
  // Nobody to send it to and no catch-all address: a mail that no server can
  // ever take is neither sent nor queued; the fax stays on disk and in the journal.
  const bool noRecipient = message.Recipients(CSMTPMessage::kTo).empty() && TrimmedText(settings.EmailAll).empty();
  const ConvertedFax pages =
      ConvertSffToImages(call.captureFilePath, settings.ImageFormat, log_,
                         FaxDocumentInfo{call.callerNumber, call.endTime}, {settings.OcrLanguages});
  if (pages.writeFailed) {
    // Mailed without its pages it would be lost; converted again next time.
    log_.WriteEventText("The pages of the fax could not be written, the fax stays for the next attempt: " +
                        call.captureFilePath);
    return false;
  }
  AddBody(message, entry, pages);
  entry.faxFile = pages.files.empty() ? FaxFilePath(call.captureFilePath, settings.ImageFormat) : pages.files.front();

  if (noRecipient) {
    log_.WriteEventText("No valid Email to Send Unknown Faxes - Set the address in the Admin Interface");
    entry.mail = MailStep::Unmailed;
    return true;
  }
  const bool attached = AttachPages(message, pages, call.captureFilePath);
  const Status delivered =
      attached ? Deliver(session, message, settings, applicationFolder) : Status::Failed("attachment", "");
  if (!delivered && stop_ && *stop_) return false;  // cut off by a stop, not refused: the next start mails it
  const std::vector<RefusedRecipient>& refused = attached ? session.RefusedRecipients() : kNoneRefused;
  entry.refusedRecipients.clear();
  for (const RefusedRecipient& r : refused)
    entry.refusedRecipients += (entry.refusedRecipients.empty() ? "" : " ") + r.address.Address();
  // Whoever the server took it for has it; the queue keeps it only for those
  // still owed.
  const std::vector<CMailAddress> asked = message.Recipients(CSMTPMessage::kTo);
  message.SetRecipients(CSMTPMessage::kTo, OwedRecipients(asked, delivered.Ok(), refused));
  if (!delivered || !message.Recipients(CSMTPMessage::kTo).empty()) {
    const bool forGood = !delivered && RefusedForGood(delivered.Error());
    if (!Queue(message, applicationFolder, call.captureFilePath,
               forGood ? QueueShelf::kUndeliverable : QueueShelf::kWaiting, session.LastReplyText()))
      return false;
  }
  entry.mail = delivered ? MailStep::Sent : MailStep::Queued;
  return true;
}

std::string CForwardingPipeline::RecipientList(const FaxCallRecord& call) {
  return call.recipients + ";" + resolver_.LookupTsidRecipients(call.callerNumber);
}

void CForwardingPipeline::ComposeMail(CSMTPMessage& message, const FaxCallRecord& call, const ServiceSettings& settings,
                                      const std::string& recipientList) {
  message.SetSender(CMailAddress(settings.Name, settings.Address));
  message.AddRecipients(recipientList);
  message.SetSubject(ExpandSubjectTemplate(settings.Header, call.callerNumber));
  log_.WriteEvent(EventSeverity::kInfo, "Received Fax seems to have pages: " + std::to_string(call.pages));
}

void CForwardingPipeline::AddBody(CSMTPMessage& message, FaxEntry& entry, const ConvertedFax& pages) {
  const FaxCallRecord& call = entry.call;
  std::string notes;
  entry.status.clear();
  const auto note = [&](const std::string& mailLine, const std::string& journalText) {
    notes += mailLine + "\n";
    entry.status += (entry.status.empty() ? "" : " ") + journalText;
  };
  std::string reason = call.incomplete;
  if (reason.empty() && pages.endsWithinPage) reason = kEndsWithinPage;
  if (!reason.empty()) {
    // Only pages that came whole count: a page the capture ends in may lack its end.
    const int wholePages = pages.pageCount > 0 ? pages.pageCount - (pages.endsWithinPage ? 1 : 0) : call.pages;
    const std::string text = IncompleteNoteText(reason, wholePages);
    note(text, text);
  }
  if (!pages.damagedPages.empty()) {
    std::string lines;
    for (const DamagedPage& page : pages.damagedPages) lines += (lines.empty() ? "" : "\n") + DamagedPageNoteText(page);
    note(lines, DamagedPagesJournalText(pages.damagedPages));
  }
  if (!pages.refusedPages.empty()) {
    const std::string text = NotConvertedNoteText(pages.refusedPages);
    note(text + "; the received file is attached.", text + ".");
  }
  message.AddTextBody(FaxMailBodyText(ComputerName(), call) + notes);
}

bool CForwardingPipeline::AttachPages(CSMTPMessage& message, const ConvertedFax& pages,
                                      const std::string& captureFilePath) {
  if (!pages.refusedPages.empty()) {
    // Every page that converted, and the received file for the rest: a
    // refused page costs only itself.
    bool attached = true;
    for (const std::string& file : pages.files)
      if (file != captureFilePath) attached = message.AddAttachment(file) && attached;
    attached = message.AddAttachment(captureFilePath) && attached;
    if (!attached) log_.WriteEventText("Attachment not found.");
    return attached;
  }
  const std::size_t complete =
      pages.firstMissingPage > 0 ? static_cast<std::size_t>(pages.firstMissingPage - 1) : pages.files.size();
  bool attached = true;
  for (std::size_t n = 0; n < complete && n < pages.files.size() && attached; ++n)
    attached = message.AddAttachment(pages.files[n]);
  if (!attached || pages.files.empty() || pages.firstMissingPage > 0) {
    log_.WriteEventText("Attachment not found.");
    return false;
  }
  return true;
}

Status CForwardingPipeline::Deliver(CSMTPSession& session, CSMTPMessage& message, const ServiceSettings& settings,
                                    const std::string& applicationFolder) {
  if (settings.SMTPServer.empty()) {
    log_.WriteEventText("SMTP Server Name not set - check settings");
    return Status::Failed("SMTPServer", "not set");
  }
  if (settings.SMTPPort == 0 && !portDefaulted_) {
    // The standard port is kept from now on, so the text comes once.
    log_.WriteEventText("SMTP Server Port not set - now using default: 25");
    portDefaulted_ = true;
  }
  session.SetConnectionSecurity(settings.SMTPSecurity, settings.SMTPCAFile);
  COAuthTokenSource tokens(settings, applicationFolder, log_, stop_);
  session.SetAccessTokens(&tokens);
  Status connected = session.Connect(settings.SMTPServer, settings.AuthenticationMethod, settings.SMTP_User,
                                     settings.SMTP_Pass, SmtpPortOrDefault(settings.SMTPPort));
  session.SetAccessTokens(nullptr);  // the login is over; the source goes with this call
  if (!connected) {
    if (stop_ && *stop_) return connected;  // not a failure of the server: the next start mails it
    log_.WriteEventText("Failed to connect to SMTP server: " + settings.SMTPServer +
                        " error :" + session.LastReplyText());
    return connected;
  }
  Status sent = session.SendMessage(message);
  if (!sent) {
    if (stop_ && *stop_) return sent;
    log_.WriteEventText("Failed to send the SMTP message: " + session.LastReplyText() + " on account " +
                        settings.SMTP_User);
    return sent;
  }
  (void)session.Disconnect();  // the server took the mail; QUIT's failure is in the log
  return sent;
}

bool CForwardingPipeline::Queue(CSMTPMessage& message, const std::string& applicationFolder,
                                const std::string& captureFilePath, QueueShelf shelf, const std::string& reply) {
  const std::string folder = MailQueueFolder(applicationFolder);
  if (!PathExists(folder)) {
    log_.WriteEventText("MailQueue dir not exist.");
    ::mkdir(folder.c_str(), 0750);
  }
  // Written whole under a name the monitor ignores, then published under a
  // queue name of its own.
  const std::string written = folder + "/.queued-" + std::to_string(::getpid()) + ".part";
  std::string queuePath;
  if (message.SaveToDisk(written)) queuePath = PublishQueueFile(written, applicationFolder, captureFilePath, shelf);
  if (queuePath.empty()) {
    ::unlink(written.c_str());
    log_.WriteEventText("Failed to save the SMTP message into " + folder + ", the fax stays for the next attempt");
    return false;
  }
  log_.WriteEventText(shelf == QueueShelf::kUndeliverable ? UndeliverableEventText(queuePath, reply)
                                                          : "Failed to send the SMTP message, saving as :" + queuePath);
  return true;
}

void CForwardingPipeline::RecordInJournal(const FaxEntry& entry, const ServiceSettings& settings) {
  // The journal wrote its failure to the log; the fax is forwarded regardless.
  // A kill between the row and the entry's removal hands the fax in again
  // after the restart; the node's name lets the journal know its own row.
  const std::string node = settings.NodeName.empty() ? ComputerName() : settings.NodeName;
  (void)InsertJournalEntry(log_, entry.call.callerNumber, entry.call.endTime, entry.call.pages, entry.faxFile,
                           journalConnectString_, entry.status, node);
}

}  // namespace kestrel
