#include "forward/forwarding_pipeline.h"

#include <sys/stat.h>

#include "convert/fax_file_names.h"
#include "core/event_log.h"
#include "forward/fax_mail_text.h"
#include "forward/mail_queue.h"
#include "forward/recipient_resolution.h"
#include "mail/mail_address.h"
#include "mail/smtp_message.h"
#include "mail/smtp_session.h"
#include "store/journal.h"

namespace kestrel {
namespace {

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

CForwardingPipeline::CForwardingPipeline(IEventLog& log, CRecipientResolver& resolver,
                                         std::string journalConnectString)
    : log_(log), resolver_(resolver), journalConnectString_(std::move(journalConnectString)) {}

int CForwardingPipeline::ForwardReceivedFax(const FaxCallRecord& call, const ServiceSettings& settings,
                                            const std::string& applicationFolder) {
  // Lives until the journal row is written: a session left connected after a
  // failed send says QUIT only then.
  CSMTPSession session(log_);
  session.SetReplyTimeout(replyTimeoutMs_);
  CSMTPMessage message(log_);

  ComposeMail(message, call, settings, RecipientList(call));
  // Nobody to send it to and no catch-all address: a mail that no server can
  // ever take is neither sent nor queued; the fax stays on disk and in the journal.
  const bool noRecipient = message.Recipients(CSMTPMessage::kTo).empty() && TrimmedText(settings.EmailAll).empty();
  const ConvertedFax pages = ConvertSffToImages(call.captureFilePath, settings.ImageFormat, log_);

  int failed = 0;
  if (noRecipient) {
    log_.WriteEventText("No valid Email to Send Unknown Faxes - Set the address in the Admin Interface");
    failed = 1;
  } else if (!AttachPages(message, pages) || !Deliver(session, message, settings)) {
    Queue(message, applicationFolder, call.captureFilePath);
    failed = 1;
  }
  RecordInJournal(call, settings.ImageFormat, pages);
  return failed;
}

std::string CForwardingPipeline::RecipientList(const FaxCallRecord& call) {
  return call.recipients + ";" + resolver_.LookupTsidRecipients(call.callerNumber);
}

void CForwardingPipeline::ComposeMail(CSMTPMessage& message, const FaxCallRecord& call,
                                      const ServiceSettings& settings, const std::string& recipientList) {
  const std::string computerName = ComputerName();
  message.SetSender(CMailAddress(settings.Name, settings.Address));
  message.AddRecipients(recipientList);
  message.SetSubject(ExpandSubjectTemplate(settings.Header, call.callerNumber));
  const std::string body = FaxMailBodyText(computerName, call);
  log_.WriteEventText("Received Fax seems to have pages: " + std::to_string(call.pages));
  message.AddTextBody(body);
}

bool CForwardingPipeline::AttachPages(CSMTPMessage& message, const ConvertedFax& pages) {
  const std::size_t complete =
      pages.firstMissingPage > 0 ? static_cast<std::size_t>(pages.firstMissingPage - 1) : pages.files.size();
  for (std::size_t n = 0; n < complete && n < pages.files.size(); ++n) message.AddAttachment(pages.files[n]);
  if (pages.files.empty() || pages.firstMissingPage > 0) {
    log_.WriteEventText("Attachment not found.");
    return false;
  }
  return true;
}

bool CForwardingPipeline::Deliver(CSMTPSession& session, CSMTPMessage& message, const ServiceSettings& settings) {
  if (settings.SMTPServer.empty()) {
    log_.WriteEventText("SMTP Server Name not set - check settings");
    return false;
  }
  if (settings.SMTPPort == 0 && !portDefaulted_) {
    // The worker keeps the standard port from now on, so the text comes once.
    log_.WriteEventText("SMTP Server Port not set - now using default: 25");
    portDefaulted_ = true;
  }
  if (!session.Connect(settings.SMTPServer, settings.AuthenticationMethod, settings.SMTP_User, settings.SMTP_Pass,
                       SmtpPortOrDefault(settings.SMTPPort))) {
    log_.WriteEventText("Failed to connect to SMTP server: " + settings.SMTPServer + " error :" +
                        session.LastReplyText());
    return false;
  }
  if (!session.SendMessage(message)) {
    log_.WriteEventText("Failed to send the SMTP message: " + session.LastReplyText() + " on account " +
                        settings.SMTP_User);
    return false;
  }
  session.Disconnect();
  return true;
}

void CForwardingPipeline::Queue(CSMTPMessage& message, const std::string& applicationFolder,
                                const std::string& captureFilePath) {
  const std::string folder = MailQueueFolder(applicationFolder);
  if (!PathExists(folder)) {
    log_.WriteEventText("MailQueue dir not exist.");
    ::mkdir(folder.c_str(), 0700);
  }
  const std::string queuePath = MailQueueFilePath(applicationFolder, captureFilePath);
  message.SaveToDisk(queuePath);
  log_.WriteEventText("Failed to send the SMTP message, saving as :" + queuePath);
}

void CForwardingPipeline::RecordInJournal(const FaxCallRecord& call, ImageFormat format, const ConvertedFax& pages) {
  const std::string faxFile = pages.files.empty() ? FaxFilePath(call.captureFilePath, format) : pages.files.front();
  InsertJournalEntry(log_, call.callerNumber, call.endTime, call.pages, faxFile, journalConnectString_);
}

}  // namespace kestrel
