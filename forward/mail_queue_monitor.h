// The mail-queue monitor: a background thread that resends the messages the
// forwarding step could not deliver (the queue files of forward/mail_queue.h),
// one file at a time, through its own SMTP session, deleting each file once
// the server has accepted it. Recipients the server refuses for now stay in
// the file (its To header rewritten to name only them); those it refuses for
// good are dropped. A file the server refuses for good as a whole (5xx) moves
// to the undeliverable folder and is not sent again. After a file the server
// answered it goes on with the next at once; after a failed attempt and after
// every pass it pauses (three minutes by default). There is no retry limit
// for failures that may pass.
//
// Queue files are untrusted input to the SMTP layer (recipients come from
// their To header; their bytes are streamed unchanged).
// Start and stop are called from one thread (the user-interface thread); the
// settings copy may be replaced only while the monitor is stopped.
// Failures are written to the event log; the file stays for the next pass.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "core/result.h"
#include "core/service_settings.h"
#include <thread>

namespace kestrel {

class IEventLog;
class CSMTPSession;

class CMailQueueMonitor {
 public:
  explicit CMailQueueMonitor(IEventLog& log);
  // Stops a running monitor.
  ~CMailQueueMonitor();
  CMailQueueMonitor(const CMailQueueMonitor&) = delete;
  CMailQueueMonitor& operator=(const CMailQueueMonitor&) = delete;

  // Replaces the copy of the settings (the sender and SMTP values are read)
  // and the application folder (with its trailing "/") whose queue is sent.
  // Ignored while the monitor runs.
  void SetSettings(const ServiceSettings& settings, const std::string& appFolder);

  // true: starts the thread unless it runs ("Failed to create the SMTP
  // monitor" when it cannot be created). false: asks it to stop and waits for
  // it; the thread leaves within a tenth of a second of a pause, or as soon as
  // a waiting SMTP read notices the stop, and ends its session with QUIT.
  void StartMailQueueMonitor(bool start);
  [[nodiscard]] bool IsRunning() const { return thread_.joinable(); }

  // The pause after each file and after each pass; 180000 ms unless a test
  // shortens it. Set only while stopped.
  void SetPause(std::chrono::milliseconds pause) { pause_ = pause; }
  // Ends the pause under way (or the next one) at once: the administrator
  // asked for the queue to be tried now. Called from the thread that starts
  // and stops the monitor; no effect while it is stopped.
  void TryNow();

 private:
  void MailQueueMonitor();
  // Waits for the pause or a stop request; false when asked to stop.
  [[nodiscard]] bool Pause();
  // Deletes `path` after the server accepted it, when it is still the file
  // `sent` describes.
  void DeleteSentFile(const std::string& path, const struct stat& sent);
  // Decides the fate of `path` after an attempt that ended with `result`;
  // true when the server answered for the file (no pause needed).
  bool SettleFile(const std::string& path, const struct stat& sent, const Status& result, const CSMTPSession& session);

  IEventLog& log_;
  ServiceSettings settings_;
  std::string appFolder_;
  std::chrono::milliseconds pause_{180000};
  std::atomic<bool> stop_{false};
  bool tryNow_ = false;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  // Files the server accepted (for some recipients) but that could not be
  // deleted, rewritten or set aside: not sent again.
  std::set<std::string> undeletable_;
};

}  // namespace kestrel
