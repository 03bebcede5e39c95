#include "forward/mail_queue_monitor.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

#include "core/event_log.h"
#include "forward/mail_queue.h"
#include "mail/mail_address.h"
#include "mail/smtp_session.h"

namespace kestrel {
CMailQueueMonitor::CMailQueueMonitor(IEventLog& log) : log_(log) {}

CMailQueueMonitor::~CMailQueueMonitor() { StartMailQueueMonitor(false); }

void CMailQueueMonitor::SetSettings(const MailQueueSettings& settings) {
  if (!IsRunning()) settings_ = settings;
}

void CMailQueueMonitor::StartMailQueueMonitor(bool start) {
  if (start) {
    if (IsRunning()) return;
    stop_ = false;
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
  return !wake_.wait_for(lock, pause_, [this] { return stop_.load(); });
}

int CMailQueueMonitor::MailQueueMonitor() {
  const std::string folder = MailQueueFolder(settings_.appFolder) + "/";
  // The monitor never rewrites the port of its copy; 0 simply means the
  // standard port, as for the reception side.
  const int port = SmtpPortOrDefault(settings_.SMTPPort);
  const CMailAddress sender(settings_.Name, settings_.Address);
  CSMTPSession session(log_);
  session.SetStopFlag(&stop_);

  while (!stop_) {
    for (const std::string& name : MailQueueFileNames(folder)) {
      if (stop_) break;
      const std::string path = folder + name;
      if (undeletable_.count(path)) continue;
      if (!session.Connect(settings_.SMTPServer, settings_.AuthenticationMethod, settings_.SMTP_User,
                           settings_.SMTP_Pass, port))
        break;
      if (session.SendMessage(path, sender, 4096) && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
        // Sending it again every pass would deliver it again every pass.
        const std::string reason = std::strerror(errno);
        undeletable_.insert(path);
        log_.WriteEventText("Sent queued mail could not be deleted, not sending it again: " + path + " (" +
                            reason + ")");
      }
      session.Disconnect();
      if (!Pause()) break;
    }
    if (stop_ || !Pause()) break;
  }
  if (session.IsConnected()) session.Disconnect();
  return 0;
}

}  // namespace kestrel
