// CStatusPublisher: keeps the application folder's status file
// (service/status_file.h) up to date while the service runs. It is the
// service's event log as well: every event passes through it to the real
// log, and those that report a failure become the status's last error (or
// last delivery error). A thread of its own looks at the reception worker,
// the folder's inbox and mail queue and the OAuth token store every second,
// writes the file when something changed and at least every
// kStatusHeartbeatSeconds, and removes it at Stop.
//
// Thread-safety: WriteEvent and WriteEventText from any thread; Start, Stop, SetFacts and
// SetLine from the service's user-interface thread. Writing the file can
// fail; that is logged once per run and the service goes on.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/event_log.h"
#include "service/status_file.h"

namespace kestrel {

class CFaxReceiveThread;
class CSipReception;

// What only the user-interface thread knows: pushed with SetFacts on every change.
struct ServiceFacts {
  std::vector<std::string> missingSettings;
  bool databaseOpen = false;
  bool receptionStarted = false;  // asked to listen with complete settings
  bool oauthUsed = false;
};

// The OAuth 2.0 login as the token store in `folder` tells it, without the
// tokens: well with the access token's expiry, or the reason it is not.
struct OAuthView {
  bool well = false;
  std::int64_t expiresAt = 0;
  std::string error;
};
OAuthView LookAtOAuthTokens(const std::string& folder);

class CStatusPublisher final : public IEventLog {
 public:
  explicit CStatusPublisher(IEventLog& log);
  ~CStatusPublisher() override;
  CStatusPublisher(const CStatusPublisher&) = delete;
  CStatusPublisher& operator=(const CStatusPublisher&) = delete;

  // Writes the first status of `folder` (ending in "/") and starts the thread.
  void Start(const std::string& folder);
  // Ends the thread and removes the file: a clean stop leaves no status behind.
  void Stop();

  void SetFacts(ServiceFacts facts);
  // The lines whose state is published; null before they are destroyed.
  void SetLine(const CFaxReceiveThread* line, const CSipReception* sip);

  void WriteEvent(EventSeverity severity, std::string_view text) override;
  void WriteEventText(std::string_view text) override { WriteEvent(EventSeverity::kWarning, text); }

 private:
  void Run();
  PublishedStatus Look();
  void Publish(const PublishedStatus& status);

  IEventLog& log_;
  std::string folder_;
  const std::int64_t pid_;
  std::int64_t startedAt_ = 0;

  std::mutex mutex_;  // guards everything below
  std::condition_variable wake_;
  bool stop_ = false;
  bool changed_ = false;
  ServiceFacts facts_;
  const CFaxReceiveThread* line_ = nullptr;
  const CSipReception* sip_ = nullptr;
  std::string lastError_;
  std::int64_t lastErrorAt_ = 0;
  std::string lastDeliveryError_;
  std::int64_t lastDeliveryErrorAt_ = 0;
  std::thread thread_;

  // The thread's own.
  PublishedStatus written_;
  bool writeFailed_ = false;
};

}  // namespace kestrel
