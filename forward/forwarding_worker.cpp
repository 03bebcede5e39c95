#include "forward/forwarding_worker.h"

#include <sstream>

#include "core/event_log.h"

namespace kestrel {

CForwardingWorker::CForwardingWorker(IEventLog& log, CForwardingPipeline& pipeline, ServiceSettings settings,
                                     std::string applicationFolder)
    : log_(log),
      pipeline_(pipeline),
      settings_(std::move(settings)),
      applicationFolder_(std::move(applicationFolder)),
      inbox_(applicationFolder_, log) {
  pipeline_.SetStopFlag(&stop_);
}

CForwardingWorker::~CForwardingWorker() { Stop(); }

void CForwardingWorker::CallAnswered(FaxCallRecord& call) {
  call.receptionEntry = inbox_.BeginReception(call).value_or("");
}

void CForwardingWorker::HandOver(const FaxCallRecord& call) {
  std::optional<FaxEntry> entry = inbox_.Record(call);
  // A fax kept in memory keeps its reception record until it is done: a
  // crash before then still finds the capture at the next start.
  if (entry) inbox_.EndReception(call.receptionEntry);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!entry) {
    FaxEntry unrecorded;
    unrecorded.call = call;
    unrecorded_.push_back(std::move(unrecorded));
  }
  woken_ = true;
  wake_.notify_all();
}

void CForwardingWorker::CallDropped(const FaxCallRecord& call) { inbox_.EndReception(call.receptionEntry); }

void CForwardingWorker::Start() {
  if (thread_.joinable()) return;
  if (!adopted_) {
    inbox_.AdoptInterruptedReceptions();
    adopted_ = true;
  }
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void CForwardingWorker::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::size_t CForwardingWorker::PendingCount() {
  std::size_t count = inbox_.Count();
  std::lock_guard<std::mutex> lock(mutex_);
  return count + unrecorded_.size();
}

void CForwardingWorker::Run() {
  while (!stop_) {
    const bool mustWait = Pass();
    std::unique_lock<std::mutex> lock(mutex_);
    if (mustWait) {
      wake_.wait_for(lock, retryPause_, [this] { return stop_.load() || woken_; });
    } else {
      wake_.wait(lock, [this] { return stop_.load() || woken_; });
    }
    woken_ = false;
  }
}

bool CForwardingWorker::Pass() {
  bool mustWait = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    woken_ = false;
  }
  for (FaxEntry& entry : inbox_.Pending()) {
    if (stop_) return false;
    if (!ForwardOne(entry)) mustWait = true;
  }
  // An entry that could not be read now is read again after the pause.
  if (inbox_.SomeUnreadable()) mustWait = true;
  // Faxes the inbox could not record go through the same road, without the
  // inbox's durability; one that must wait stays in memory.
  std::deque<FaxEntry> unrecorded;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    unrecorded.swap(unrecorded_);
  }
  while (!unrecorded.empty() && !stop_) {
    FaxEntry entry = std::move(unrecorded.front());
    unrecorded.pop_front();
    if (!ForwardOne(entry)) {
      std::lock_guard<std::mutex> lock(mutex_);
      unrecorded_.push_back(std::move(entry));
      mustWait = true;
    }
  }
  if (!unrecorded.empty()) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (FaxEntry& e : unrecorded) unrecorded_.push_back(std::move(e));
  }
  return mustWait;
}

void CForwardingWorker::ChangeSettings(ServiceSettings settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  newSettings_ = std::move(settings);
}

bool CForwardingWorker::ForwardOne(FaxEntry& entry) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (newSettings_) settings_ = std::move(*newSettings_);
    newSettings_.reset();
  }
  if (pipeline_.Forward(entry, inbox_, settings_, applicationFolder_) == ForwardingOutcome::TryLater) return false;
  if (entry.name.empty()) inbox_.EndReception(entry.call.receptionEntry);
  if (listener_) {
    ForwardedFax done;
    done.call = entry.call;
    done.queued = entry.mail == MailStep::Queued;
    done.mailed = entry.mail == MailStep::Sent;
    done.faxFile = entry.faxFile;
    std::istringstream refused(entry.refusedRecipients);
    for (std::string address; refused >> address;) done.refusedRecipients.push_back(address);
    listener_->FaxForwarded(done);
  }
  return true;
}

}  // namespace kestrel
