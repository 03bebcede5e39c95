#include "forward/forwarding_pipeline.h"

#include <sys/stat.h>

#include "convert/sff_converter.h"
#include "core/event_log.h"
#include "forward/fax_mail_text.h"
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

// The file name of `path` without folder and extension.
std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The capture file path up to its last ".".
std::string BasePath(const std::string& path) {
  auto dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}

}  // namespace

CForwardingPipeline::CForwardingPipeline(IEventLog& log, CRecipientResolver& resolver,
                                         std::string journalConnectString)
    : log_(log), resolver_(resolver), journalConnectString_(std::move(journalConnectString)) {}

int CForwardingPipeline::ForwardReceivedFax(const FaxCallRecord& call, const ServiceSettings& settings,
                                            const std::string& applicationFolder) {
  int failed = 0;
  CSMTPSession session(log_);
  session.SetReplyTimeout(replyTimeoutMs_);
  CSMTPMessage message(log_);
  const CMailAddress sender(settings.Name, settings.Address);

  const std::string computerName = ComputerName();
  const std::string tsidRecipients = resolver_.LookupTsidRecipients(call.callerNumber);
  const std::string recipientList = call.recipients + ";" + tsidRecipients;
  message.SetSender(sender);
  message.AddRecipients(recipientList);
  // Nobody to send it to and no catch-all address: a mail that no server can
  // ever take is neither sent nor queued; the fax stays on disk and in the journal.
  const bool noRecipient = message.Recipients(CSMTPMessage::kTo).empty() && TrimmedText(settings.EmailAll).empty();

  message.SetSubject(ExpandSubjectTemplate(settings.Header, call.callerNumber));
  const std::string body = FaxMailBodyText(computerName, call);
  log_.WriteEventText("Received Fax seems to have pages: " + std::to_string(call.pages));
  message.AddTextBody(body);
  const std::string receivingTime = ReceivingTimeText(call.endTime);

  const std::string base = BasePath(call.captureFilePath);
  std::string attachmentPath;
  std::string pageExtension;
  int pageFiles = 0;
  switch (settings.ImageFormat) {
    case 0:
      pageFiles = ConvertSffToImages(call.captureFilePath, OutputKind::Jpeg, log_);
      attachmentPath = base + ".jpg";
      pageExtension = ".jpg";
      break;
    case 1:
      pageFiles = ConvertSffToImages(call.captureFilePath, OutputKind::Png, log_);
      attachmentPath = base + ".png";
      pageExtension = ".png";
      break;
    case 2:
      ConvertSffToImages(call.captureFilePath, OutputKind::Tiff, log_);
      pageFiles = 1;
      attachmentPath = base + ".tif";
      break;
    case 3:
      pageFiles = 1;
      attachmentPath = call.captureFilePath;
      break;
    default:
      break;
  }

  if (noRecipient) {
    log_.WriteEventText("No valid Email to Send Unknown Faxes - Set the address in the Admin Interface");
    failed = 1;
  } else {
    bool queue = false;
    if (pageFiles < 2) {
      if (!attachmentPath.empty() && PathExists(attachmentPath)) {
        message.AddAttachments(attachmentPath);
      } else {
        log_.WriteEventText("Attachment not found.");
        queue = true;
      }
    } else {
      for (int n = 1; n <= pageFiles; ++n) {
        const std::string page = base + "_" + std::to_string(n) + pageExtension;
        if (!PathExists(page)) {
          log_.WriteEventText("Attachment not found.");
          queue = true;
          break;
        }
        message.AddAttachments(page);
      }
    }

    int port = settings.SMTPPort;
    if (!queue && settings.SMTPServer.empty()) {
      log_.WriteEventText("SMTP Server Name not set - check settings");
      queue = true;
    }
    if (!queue && port == 0) {
      // The worker keeps port 25 from now on, so the text comes once.
      if (!portDefaulted_) log_.WriteEventText("SMTP Server Port not set - now using default: 25");
      portDefaulted_ = true;
      port = 25;
    }

    if (!queue) {
      if (!session.Connect(settings.SMTPServer, settings.AuthenticationMethod, settings.SMTP_User,
                           settings.SMTP_Pass, port)) {
        log_.WriteEventText("Failed to connect to SMTP server: " + settings.SMTPServer + " error :" +
                            session.LastReplyText());
        queue = true;
      } else if (session.SendMessage(message)) {
        session.Disconnect();
      } else {
        log_.WriteEventText("Failed to send the SMTP message: " + session.LastReplyText() + " on account " +
                            settings.SMTP_User);
        queue = true;
      }
    }

    if (queue) {
      failed = 1;
      const std::string folder = applicationFolder + "MailQueue";
      if (!PathExists(folder)) {
        log_.WriteEventText("MailQueue dir not exist.");
        ::mkdir(folder.c_str(), 0700);
      }
      // Without an attachment path (an unknown format) the capture file names
      // the queue file, so that it still ends in a name the monitor picks up.
      const std::string stem = StemOf(attachmentPath.empty() ? call.captureFilePath : attachmentPath);
      const std::string queuePath = folder + "/" + stem + ".eml";
      message.SaveToDisk(queuePath);
      log_.WriteEventText("Failed to send the SMTP message, saving as :" + queuePath);
    }
  }

  std::string journalFile = attachmentPath;
  if (settings.ImageFormat == 0 && call.pages > 1) journalFile = base + "_1.jpg";
  if (settings.ImageFormat == 1 && call.pages > 1) journalFile = base + "_1.png";
  InsertJournalEntry(log_, call.callerNumber, receivingTime, call.pages, journalFile, journalConnectString_);
  return failed;
}

}  // namespace kestrel
