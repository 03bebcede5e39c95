// CForwardingWorker: the forwarding thread. The reception side hands each
// received fax over (HandOver), which records it durably in the fax inbox and
// returns at once, so the line is answered again while mail is slow. The
// thread works through the inbox in arrival order, first what an earlier run
// left, then every fax handed over, and runs the forwarding pipeline on each;
// a fax that must wait (its pages or its queue file could not be written) is
// tried again after a pause.
//
// Thread-safety: HandOver may be called from any one thread while the worker
// runs; Start, Stop and the setters from the owning thread. Stop makes every
// SMTP wait give up and returns once the thread has ended; a fax interrupted
// by it stays in the inbox for the next start. Failures are logged by the
// pipeline; a fax that is not done waits in the inbox.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capi/fax_hand_off.h"
#include "core/service_settings.h"
#include "forward/fax_inbox.h"
#include "forward/forwarded_fax_listener.h"
#include "forward/forwarding_pipeline.h"

namespace kestrel {

class IEventLog;

class CForwardingWorker final : public IFaxHandOff {
 public:
  // `pipeline` is used on the worker's thread only.
  CForwardingWorker(IEventLog& log, CForwardingPipeline& pipeline, ServiceSettings settings,
                    std::string applicationFolder);
  ~CForwardingWorker() override;
  CForwardingWorker(const CForwardingWorker&) = delete;
  CForwardingWorker& operator=(const CForwardingWorker&) = delete;

  // Writes the inbox's reception record of the call (IFaxHandOff).
  void CallAnswered(FaxCallRecord& call) override;
  // Records the fax (or, when the inbox cannot be written, keeps it in memory
  // for this run), removes the reception record once the fax is recorded,
  // and wakes the thread.
  void HandOver(const FaxCallRecord& call) override;
  // Removes the reception record of a call that brought no fax.
  void CallDropped(const FaxCallRecord& call) override;

  // The first Start takes the calls a crash cut off into the inbox (see
  // CFaxInbox::AdoptInterruptedReceptions) before the thread runs: call it
  // before reception starts.
  void Start();
  void Stop();

  // The pause before a fax that had to wait is tried again (one minute).
  void SetRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }
  // Faxes recorded and not yet done, for status displays.
  [[nodiscard]] std::size_t PendingCount();
  // Told about every fax that is done; set before Start (null: nobody).
  void SetListener(IForwardedFaxListener* listener) { listener_ = listener; }
  // Settings for the faxes forwarded from now on, taken between two faxes:
  // a fax being mailed finishes with the settings it began with. The faxes
  // waiting (in the inbox and in memory) stay and get the new settings.
  void ChangeSettings(ServiceSettings settings);

 private:
  void Run();
  // One pass over the inbox and the faxes kept in memory; true when a fax had to wait.
  [[nodiscard]] bool Pass();
  // Forwards one fax and tells the listener when it is done; false when it must wait.
  [[nodiscard]] bool ForwardOne(FaxEntry& entry);

  IEventLog& log_;
  CForwardingPipeline& pipeline_;
  ServiceSettings settings_;
  std::string applicationFolder_;
  CFaxInbox inbox_;
  std::chrono::milliseconds retryPause_{60000};
  IForwardedFaxListener* listener_ = nullptr;
  bool adopted_ = false;  // the former run's reception records were taken in

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::deque<FaxEntry> unrecorded_;  // faxes the inbox could not take
  std::optional<ServiceSettings> newSettings_;
  std::thread thread_;
};

}  // namespace kestrel
