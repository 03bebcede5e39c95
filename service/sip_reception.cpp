#include "service/sip_reception.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "capi/fax_call_record.h"
#include "capi/fax_capture.h"
#include "capi/fax_hand_off.h"
#include "capi/recipient_resolver.h"
#include "core/event_log.h"
#include "media/fax_call.h"

namespace kestrel {
namespace {

// Why a fax was cut short by this side, in words that follow "Incomplete: ".
constexpr char kStoppedDuringCall[] = "the service stopped during the call";
// How long a call whose fax has ended waits for the sender's BYE before its own.
constexpr auto kSenderHangUpWait = std::chrono::seconds(5);

// The settings the line itself runs with: a change of one of them starts the
// line anew; the others reach the next call without touching the line.
bool SameLine(const ServiceSettings& a, const ServiceSettings& b) {
  return a.SipEnabled == b.SipEnabled && a.SipRegistrar == b.SipRegistrar && a.SipUser == b.SipUser &&
         a.SipAuthUser == b.SipAuthUser && a.SipPassword == b.SipPassword && a.SipTransport == b.SipTransport &&
         a.SipPort == b.SipPort && a.SipRtpPorts == b.SipRtpPorts && a.SipT38 == b.SipT38 && a.SipPeers == b.SipPeers &&
         a.SipChannels == b.SipChannels;
}

std::string MediaText(const SipMedia& media) {
  if (media.kind == SipMediaKind::kT38)
    return "T.38 version " + std::to_string(media.t38.version) + " on port " + std::to_string(media.localPort);
  return std::string("audio ") + (media.codec == AudioCodec::kPcma ? "PCMA" : "PCMU") + " on port " +
         std::to_string(media.localPort);
}

}  // namespace

struct CSipReception::Impl {
  Impl(IEventLog& l, IRecipientResolver& r, IFaxHandOff& h) : log(l), resolver(r), handOff(h) {}

  // One answered call: its record, its receiver and the thread that waits
  // for the fax and hands it over.
  struct Call {
    FaxCallRecord record;
    std::unique_ptr<CFaxCall> fax;  // gone once done
    std::thread waiter;
    bool peerEnded = false;  // the peer's BYE: no BYE of ours
    bool stopping = false;   // the line stops: the fax is cut short, the line ends the call
    bool done = false;       // handed over or dropped
  };

  // What Offer learned for the Answered that follows it on the line's thread.
  struct Offered {
    int callId = 0;
    std::string caller;
    std::string recipients;
  };

  // The call's thread: waits for the end of T.30 (or the peer's BYE, a stop,
  // the silence limit), hands the fax over and lets the line end the call.
  void Receive(int callId, const std::shared_ptr<Call>& call) {
    FaxCallResult result = call->fax->Wait();
    FaxCallRecord& record = call->record;
    bool stopping = false;
    {
      std::lock_guard lock(mutex);
      stopping = call->stopping;
    }
    if (stopping && !result.complete) result.incomplete = kStoppedDuringCall;
    record.endTime = std::time(nullptr);
    record.pages = static_cast<std::uint16_t>(std::clamp(result.pages, 0, 65535));
    record.rate = static_cast<std::uint16_t>(std::clamp(result.bitRate, 0, 65535));
    record.remoteStationId = RemoteStationId(result.remoteStationId);
    record.incomplete = result.complete ? std::string() : result.incomplete;
    if (result.pages > 0 || result.complete) {
      Log("SIP call " + std::to_string(callId) + " brought " + std::to_string(result.pages) + " page(s)" +
          (result.t38 ? " over T.38" : " over audio") +
          (result.complete ? std::string() : ", incomplete: " + result.incomplete));
      handOff.HandOver(record);
    } else {
      Log("SIP call " + std::to_string(callId) + " brought no page: " + result.incomplete);
      handOff.CallDropped(record);
      // Only the name was reserved: no receiver wrote a page into it.
      struct stat st;
      if (::stat(record.captureFilePath.c_str(), &st) == 0 && st.st_size == 0) ::unlink(record.captureFilePath.c_str());
    }
    std::unique_lock lock(mutex);
    // The sender hangs up once its T.30 has ended too; ours would cut its last
    // frames. Only a sender that stays is hung up on.
    // (A stop ends every call itself.)
    if (!changed.wait_for(lock, kSenderHangUpWait, [&call] { return call->peerEnded || call->stopping; })) {
      lock.unlock();
      line.Hangup(callId);
      lock.lock();
    }
    if (result.pages > 0 || result.complete) {
      ++faxesReceived;
      lastFaxAt = record.endTime;
    }
    call->fax.reset();
    call->done = true;
    changed.notify_all();
  }

  bool Idle() const {
    for (const auto& [id, call] : calls)
      if (!call->done) return false;
    return true;
  }

  // Forgets the calls whose threads are done. Called with `lock` on `mutex`.
  void Tidy(std::unique_lock<std::mutex>& lock) {
    std::vector<std::shared_ptr<Call>> ended;
    for (auto it = calls.begin(); it != calls.end();) {
      if (it->second->done) {
        ended.push_back(it->second);
        it = calls.erase(it);
      } else {
        ++it;
      }
    }
    lock.unlock();
    for (auto& call : ended)
      if (call->waiter.joinable()) call->waiter.join();
    lock.lock();
  }

  // Every call ends (its fax handed over as far as it came), then the line.
  // With `control` held.
  void StopLine() {
    std::unique_lock lock(mutex);
    stopping = true;
    const auto cutShort = [this] {
      for (auto& [id, call] : calls) {
        call->stopping = true;
        if (call->fax) call->fax->Hangup();
      }
      changed.notify_all();
    };
    cutShort();
    changed.wait(lock, [this] { return Idle(); });
    lock.unlock();
    // A call the line answered meanwhile is cut short by Answered itself.
    line.Stop();
    lock.lock();
    cutShort();
    changed.wait(lock, [this] { return Idle(); });
    Tidy(lock);
    running = false;
    stopping = false;
  }

  // With `control` held.
  kestrel::Status StartLine(const ServiceSettings& values) {
    StopLine();
    std::unique_lock lock(mutex);
    settings = values;
    lineSettings = values;
    lineSettingsDue = false;
    resolverDue = true;
    if (!values.SipEnabled) {
      failure.clear();
      failedStarts = 0;
      return {};
    }
    lock.unlock();
    kestrel::Status started = line.Start(values, *owner);
    lock.lock();
    running = static_cast<bool>(started);
    // A failure is logged once, not at every attempt; the status shows it meanwhile.
    const bool told = !started && started.Error().text == failure && failedStarts > 0;
    failure = started ? std::string() : started.Error().text;
    failedStarts = started ? 0 : failedStarts + 1;
    nextStart = std::chrono::steady_clock::now() + RetryDelay(failedStarts);
    lock.unlock();
    changed.notify_all();  // the keeper's back-off begins
    if (!started) {
      if (!told) log.WriteEvent(EventSeverity::kError, "Error: the SIP line does not run: " + started.Describe());
      return started;
    }
    Log("The SIP line takes calls on port " + std::to_string(values.SipPort) +
        (values.SipRegistrar.empty() ? std::string(" from its peers") : " and registers at " + values.SipRegistrar));
    return started;
  }

  // The keeper's thread: forgets ended calls, and starts the line anew with
  // settings that waited for the last call to end.
  void Keep() {
    std::unique_lock lock(mutex);
    while (!quit) {
      if (failedStarts > 0 && !stopped)
        changed.wait_for(lock, RetryDelay(failedStarts));
      else
        changed.wait(lock);
      if (quit) break;
      Tidy(lock);
      // A line that could not start (a name that does not resolve yet, the
      // port still taken) is tried again after its back-off, as long as no
      // call is in progress.
      const bool retry = failedStarts > 0 && !stopped && std::chrono::steady_clock::now() >= nextStart;
      if (!((lineSettingsDue || retry) && Idle())) continue;
      const ServiceSettings values = settings;
      lineSettingsDue = false;
      lock.unlock();
      {
        std::lock_guard control(controlMutex);
        std::unique_lock check(mutex);
        const bool wanted = !stopped;  // not after a Stop that came first
        check.unlock();
        if (wanted) (void)StartLine(values);  // logged
      }
      lock.lock();
    }
  }

  // 2, 4, 8 ... seconds between attempts to start the line, at most a minute.
  static std::chrono::seconds RetryDelay(int failures) {
    return std::chrono::seconds(std::min(60, 1 << std::min(failures, 6)));
  }

  void Log(const std::string& text) { log.WriteEvent(EventSeverity::kInfo, text); }

  IEventLog& log;
  IRecipientResolver& resolver;
  IFaxHandOff& handOff;
  ISipCallHandler* owner = nullptr;
  CSipLine line;
  std::mutex controlMutex;  // one start or stop of the line at a time

  mutable std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  ServiceSettings settings;      // for the calls to come
  ServiceSettings lineSettings;  // those the running line started with
  bool lineSettingsDue = false;  // new line settings wait for an idle line
  bool resolverDue = false;      // All and EmailAll changed: the line's thread gives them to the resolver
  bool running = false;
  bool stopping = false;  // the line is being stopped: no call is taken
  bool stopped = true;    // Stop came last, not Start: the keeper starts nothing
  bool quit = false;      // the keeper ends
  std::string failure;
  int failedStarts = 0;  // attempts to start the line that failed in a row
  std::chrono::steady_clock::time_point nextStart;
  std::optional<Offered> offered;
  std::map<int, std::shared_ptr<Call>> calls;
  int faxesReceived = 0;
  std::time_t lastFaxAt = 0;
  std::thread keeper;
};

CSipReception::CSipReception(IEventLog& log, IRecipientResolver& resolver, IFaxHandOff& handOff)
    : impl_(std::make_unique<Impl>(log, resolver, handOff)) {
  impl_->owner = this;
  impl_->keeper = std::thread([this] { impl_->Keep(); });
}

CSipReception::~CSipReception() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->quit = true;
  }
  impl_->changed.notify_all();
  impl_->keeper.join();
  Stop();
}

kestrel::Status CSipReception::Start(const ServiceSettings& settings) {
  std::lock_guard control(impl_->controlMutex);
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopped = false;
  }
  return impl_->StartLine(settings);
}

void CSipReception::ChangeSettings(const ServiceSettings& settings) {
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  const bool lineChanged = !SameLine(settings, d.lineSettings);
  d.settings = settings;
  d.resolverDue = true;
  if (!lineChanged) return;
  if (!d.Idle()) {
    // A call in progress ends as it began; the keeper starts the line anew after the last one.
    d.lineSettingsDue = true;
    return;
  }
  lock.unlock();
  (void)Start(settings);  // logged
}

void CSipReception::Stop() {
  std::lock_guard control(impl_->controlMutex);
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopped = true;
    impl_->lineSettingsDue = false;
  }
  impl_->StopLine();
}

SipLineStatus CSipReception::Status() const {
  const Impl& d = *impl_;
  SipLineStatus s;
  s.registration = d.line.Registration();
  std::lock_guard lock(d.mutex);
  s.enabled = d.settings.SipEnabled;
  s.running = d.running;
  s.failure = d.failure;
  s.channels = d.lineSettings.SipChannels;
  for (const auto& [id, call] : d.calls) s.callsInProgress += call->done ? 0 : 1;
  s.faxesReceived = d.faxesReceived;
  s.lastFaxAt = d.lastFaxAt;
  return s;
}

SipAnswer CSipReception::Offer(const SipCallOffer& offer, int callId) {
  Impl& d = *impl_;
  bool rejectCallerId = false;
  std::optional<std::pair<std::int32_t, std::string>> acceptAll;
  {
    std::lock_guard lock(d.mutex);
    if (d.stopping) return SipAnswer::kBusy;
    rejectCallerId = d.settings.RejectCallerID;
    if (d.resolverDue) acceptAll.emplace(d.settings.All, d.settings.EmailAll);
    d.resolverDue = false;
  }
  if (acceptAll) d.resolver.SetAcceptAll(acceptAll->first, acceptAll->second);
  const std::string caller = offer.callerWithheld ? std::string() : offer.caller;
  d.Log("Incoming SIP call, ID " + std::to_string(callId) + ", caller: \"" + caller + "\", dialled: \"" +
        offer.dialled + "\", from " + offer.remoteAddress);
  std::string recipients;
  if (!d.resolver.AcceptsCalledNumber(offer.dialled, recipients)) {
    d.Log("SIP call " + std::to_string(callId) + " to a number not served, refused (404)");
    return SipAnswer::kNotServed;
  }
  if (rejectCallerId && caller.empty()) {
    d.Log("Fax call without CallerID or StationID, rejecting call... ");
    return SipAnswer::kCallerRequired;
  }
  std::lock_guard lock(d.mutex);
  d.offered = Impl::Offered{callId, caller, recipients};
  return SipAnswer::kAccept;
}

void CSipReception::Answered(int callId, const SipMedia& media) {
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  if (!d.offered || d.offered->callId != callId) return;
  Impl::Offered offered = std::move(*d.offered);
  d.offered.reset();
  const ServiceSettings settings = d.settings;
  lock.unlock();

  auto call = std::make_shared<Impl::Call>();
  FaxCallRecord& record = call->record;
  record.callerNumber = offered.caller;
  record.recipients = offered.recipients;
  record.startTime = std::time(nullptr);
  EnsureReceivedFolder(settings.ReceivedDir, d.log);
  const int fd = CreateCaptureFile(settings.ReceivedDir, offered.caller, kTiffCaptureExtension, record.captureFilePath);
  if (fd < 0) {
    d.log.WriteEvent(EventSeverity::kError, "could not open file: \"" + record.captureFilePath + "\" ");
    d.line.Hangup(callId);
    return;
  }
  ::close(fd);
  // Announced before the first page: a crash from here on still leaves the
  // forwarding side knowing of the capture.
  d.handOff.CallAnswered(record);
  FaxCallSetup setup{.tiffPath = record.captureFilePath, .localStationId = settings.Number, .onFaxTones = {}};
  // The caller's fax tones in audio: the line asks for T.38 when SipT38 is on.
  setup.onFaxTones = [&d, callId] { d.line.RequestT38(callId); };
  Result<std::unique_ptr<CFaxCall>> fax =
      media.kind == SipMediaKind::kT38
          ? CFaxCall::StartT38(setup, {.localPort = media.localPort, .remote = media.remote, .peer = media.t38})
          : CFaxCall::StartAudio(setup, media.localPort, media.remote, media.codec);
  if (!fax) {
    d.log.WriteEvent(EventSeverity::kError, "Error: the SIP call's media could not be set up: " + fax.Describe());
    d.handOff.CallDropped(record);
    ::unlink(record.captureFilePath.c_str());
    d.line.Hangup(callId);
    return;
  }
  call->fax = std::move(*fax);
  d.Log("SIP call " + std::to_string(callId) + " answered, " + MediaText(media) + ", capture " +
        record.captureFilePath);
  lock.lock();
  if (d.stopping) {
    call->stopping = true;
    call->fax->Hangup();
  }
  d.calls.emplace(callId, call);
  call->waiter = std::thread([&d, callId, call] { d.Receive(callId, call); });
}

bool CSipReception::MediaChanged(int callId, const SipMedia& media) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  auto found = d.calls.find(callId);
  if (found == d.calls.end() || !found->second->fax || found->second->stopping) return false;
  const kestrel::Status switched =
      found->second->fax->SwitchToT38({.localPort = media.localPort, .remote = media.remote, .peer = media.t38});
  if (!switched) {
    d.log.WriteEvent(EventSeverity::kWarning,
                     "SIP call " + std::to_string(callId) + " stays in audio: " + switched.Describe());
    return false;
  }
  d.Log("SIP call " + std::to_string(callId) + " moves to " + MediaText(media));
  return true;
}

void CSipReception::Ended(int callId) {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  auto found = d.calls.find(callId);
  if (found == d.calls.end()) return;
  found->second->peerEnded = true;
  if (found->second->fax) found->second->fax->Hangup();
  d.changed.notify_all();
}

}  // namespace kestrel
