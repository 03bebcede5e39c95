#include "forward/mail_queue_monitor.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "core/event_log.h"
#include "forward/mail_queue.h"
#include "mail/mail_address.h"
#include "mail/smtp_message.h"
#include "mail/smtp_session.h"
#include "oauth/access_token_source.h"
#include "platform/atomic_file.h"

namespace kestrel {
CMailQueueMonitor::CMailQueueMonitor(IEventLog& log) : log_(log) {}

CMailQueueMonitor::~CMailQueueMonitor() { StartMailQueueMonitor(false); }

void CMailQueueMonitor::SetSettings(const ServiceSettings& settings, const std::string& appFolder) {
  if (IsRunning()) return;
  settings_ = settings;
  appFolder_ = appFolder;
}

void CMailQueueMonitor::StartMailQueueMonitor(bool start) {
  if (start) {
    if (IsRunning()) return;
    stop_ = false;
    tryNow_ = false;
    try {
      thread_ = std::thread([this] { MailQueueMonitor(); });
    } catch (const std::system_error&) {
      log_.WriteEventText("Failed to create the SMTP monitor");
    }
    return;
  }
  if (!IsRunning()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool CMailQueueMonitor::Pause() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, pause_, [this] { return stop_.load() || tryNow_; });
  tryNow_ = false;
  return !stop_;
}

void CMailQueueMonitor::TryNow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsRunning()) return;
    tryNow_ = true;
  }
  wake_.notify_all();
}

void CMailQueueMonitor::DeleteSentFile(const std::string& path, const struct stat& sent) {
  // Only the file that was sent: one that took its name meanwhile stays.
  struct stat now;
  if (::stat(path.c_str(), &now) != 0 || now.st_dev != sent.st_dev || now.st_ino != sent.st_ino) return;
  if (::unlink(path.c_str()) == 0) {
    SyncFolderOf(path);
    return;
  }
  if (errno == ENOENT) return;
  // Sending it again every pass would deliver it again every pass.
  const std::string reason = std::strerror(errno);
  undeletable_.insert(path);
  log_.WriteEventText("Sent queued mail could not be deleted, not sending it again: " + path + " (" + reason + ")");
}

bool CMailQueueMonitor::SettleFile(const std::string& path, const struct stat& sent, const Status& result,
                                   const CSMTPSession& session) {
  const std::vector<RefusedRecipient>& refused = session.RefusedRecipients();
  if (!result && RefusedForGood(result.Error())) {
    const std::string keptAt = SetAsideUndeliverable(path);
    if (keptAt.empty()) {
      const std::string reason = std::strerror(errno);
      undeletable_.insert(path);
      log_.WriteEventText("Undeliverable queued mail could not be set aside, not sending it again: " + path + " (" +
                          reason + ")");
    } else {
      log_.WriteEventText(UndeliverableEventText(keptAt, session.LastReplyText()));
    }
    return true;
  }
  if (refused.empty()) {
    if (result) DeleteSentFile(path, sent);
    return result.Ok();
  }
  const std::vector<CMailAddress> asked = ParseAddressList(CSMTPMessage(log_).GetRecipientsFromFile(path));
  const std::vector<CMailAddress> owed = OwedRecipients(asked, result.Ok(), refused);
  if (owed.empty()) {
    DeleteSentFile(path, sent);
  } else if (owed.size() != asked.size()) {
    if (Status kept = KeepOwedRecipients(path, owed); !kept && result) {
      // Sent again as it stands, it would reach those who have it already.
      undeletable_.insert(path);
      log_.WriteEventText("Queued mail could not keep only the recipients still owed, not sending it again: " +
                          kept.Error().text);
    }
  }
  return result.Ok();
}

void CMailQueueMonitor::MailQueueMonitor() {
  const std::string folder = MailQueueFolder(appFolder_) + "/";
  // The monitor never rewrites the port of its copy; 0 simply means the
  // standard port, as for the reception side.
  const int port = SmtpPortOrDefault(settings_.SMTPPort);
  const CMailAddress sender(settings_.Name, settings_.Address);
  COAuthTokenSource tokens(settings_, appFolder_, log_, &stop_);
  CSMTPSession session(log_);
  session.SetStopFlag(&stop_);
  session.SetConnectionSecurity(settings_.SMTPSecurity, settings_.SMTPCAFile);
  session.SetAccessTokens(&tokens);

  while (!stop_) {
    for (const std::string& name : MailQueueFileNames(folder)) {
      if (stop_) break;
      const std::string path = folder + name;
      if (undeletable_.count(path)) continue;
      struct stat before;
      if (::stat(path.c_str(), &before) != 0) continue;  // sent or dropped meanwhile
      // The session has told the log why; the file waits for the next pass.
      if (!session.Connect(settings_.SMTPServer, settings_.AuthenticationMethod, settings_.SMTP_User,
                           settings_.SMTP_Pass, port))
        break;
      const Status result = session.SendMessage(path, sender, 4096);
      const bool sent = SettleFile(path, before, result, session);
      // The server's acceptance, before QUIT's reply replaces it.
      if (result)
        log_.WriteEvent(EventSeverity::kInfo, "Queued mail sent: " + path + " (" + session.LastReplyText() + ")");
      (void)session.Disconnect();  // the mail's fate is decided; QUIT's failure is in the log
      // A server that takes mail gets the next one at once; after a failure
      // the monitor waits before it tries again.
      if (!sent && !Pause()) break;
    }
    if (stop_ || !Pause()) break;
  }
  if (session.IsConnected()) (void)session.Disconnect();  // stopping: nothing more to decide
}

}  // namespace kestrel
