#include "service/status_publisher.h"

#include <capi20.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "capi/fax_receive_thread.h"
#include "forward/fax_inbox.h"
#include "forward/mail_queue.h"
#include "oauth/token_store.h"
#include "platform/atomic_file.h"
#include "service/sip_reception.h"

namespace kestrel {
namespace {

// Events that tell of a mail not delivered, by how they begin.
constexpr std::array kDeliveryFailures = {
    std::string_view("Failed to connect to SMTP server"),
    std::string_view("Failed to send the SMTP message"),
    std::string_view("Failed to save the SMTP message"),
    std::string_view("The mail server refused the mail for good"),
};
// Words by which an event tells of a failure; the log has no severities.
constexpr std::array kFailureWords = {
    std::string_view("Error"),     std::string_view("Failed"),      std::string_view("failed"),
    std::string_view("could not"), std::string_view("cannot"),      std::string_view("not found"),
    std::string_view("not exist"), std::string_view("imcomplete"),  std::string_view("refused"),
    std::string_view("No valid"),  std::string_view("No free"),     std::string_view("not taken"),
    std::string_view("not saved"), std::string_view("not re-read"), std::string_view("Unreadable"),
};

bool BeginsWithAny(std::string_view text, const auto& prefixes) {
  for (std::string_view p : prefixes)
    if (text.starts_with(p)) return true;
  return false;
}

bool HoldsAny(std::string_view text, const auto& words) {
  for (std::string_view w : words)
    if (text.find(w) != std::string_view::npos) return true;
  return false;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

const char* LineWord(LineStatus::State state) {
  switch (state) {
    case LineStatus::State::kListening: return "listening";
    case LineStatus::State::kReceiving: return "receiving";
    case LineStatus::State::kCapiUnavailable: return "capi-unavailable";
    case LineStatus::State::kStopped: break;
  }
  return "stopped";
}

}  // namespace

OAuthView LookAtOAuthTokens(const std::string& folder) {
  OAuthView view;
  Result<OAuthTokens> tokens = COAuthTokenStore(folder).Load();
  if (!tokens)
    view.error = tokens.Describe();
  else if (!tokens->lastError.empty())
    view.error = tokens->lastError;
  else if (tokens->accessToken.empty() && tokens->refreshToken.empty())
    view.error = kNoTokenHeld;
  else
    view.expiresAt = tokens->expiresAt;
  view.well = view.error.empty();
  return view;
}

CStatusPublisher::CStatusPublisher(IEventLog& log) : log_(log), pid_(::getpid()) {}

CStatusPublisher::~CStatusPublisher() { Stop(); }

void CStatusPublisher::Start(const std::string& folder) {
  if (thread_.joinable()) return;
  folder_ = folder;
  startedAt_ = Now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
  }
  Publish(Look());
  thread_ = std::thread([this] { Run(); });
}

void CStatusPublisher::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  ::unlink(StatusFilePath(folder_).c_str());
}

void CStatusPublisher::SetFacts(ServiceFacts facts) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    facts_ = std::move(facts);
    changed_ = true;
  }
  wake_.notify_all();
}

void CStatusPublisher::SetLine(const CFaxReceiveThread* line, const CSipReception* sip) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = line;
    sip_ = sip;
    changed_ = true;
  }
  wake_.notify_all();
}

void CStatusPublisher::WriteEvent(EventSeverity severity, std::string_view text) {
  log_.WriteEvent(severity, text);
  // Reports of what went well never count as the last error.
  if (severity == EventSeverity::kInfo || severity == EventSeverity::kNotice) return;
  const bool delivery = BeginsWithAny(text, kDeliveryFailures);
  if (!delivery && !HoldsAny(text, kFailureWords)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = text;
    lastErrorAt_ = Now();
    if (delivery) {
      lastDeliveryError_ = text;
      lastDeliveryErrorAt_ = lastErrorAt_;
    }
    changed_ = true;
  }
  wake_.notify_all();
}

void CStatusPublisher::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    // The folder's counts change without telling: look every second.
    wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_ || changed_; });
    if (stop_) break;
    changed_ = false;
    lock.unlock();
    PublishedStatus now = Look();
    PublishedStatus compared = now;
    compared.heartbeatAt = written_.heartbeatAt;
    if (!(compared == written_) || now.heartbeatAt - written_.heartbeatAt >= kStatusHeartbeatSeconds) Publish(now);
    lock.lock();
  }
}

PublishedStatus CStatusPublisher::Look() {
  PublishedStatus s;
  s.pid = pid_;
  s.startedAt = startedAt_;
  s.heartbeatAt = Now();
  ServiceFacts facts;
  LineStatus line;
  SipLineStatus sip;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    facts = facts_;
    if (line_) line = line_->Status();
    if (sip_) sip = sip_->Status();
    s.lastError = lastError_;
    s.lastErrorAt = lastErrorAt_;
    s.lastDeliveryError = lastDeliveryError_;
    s.lastDeliveryErrorAt = lastDeliveryErrorAt_;
  }

  s.line = LineWord(line.state);
  s.databaseOpen = facts.databaseOpen;
  s.missingSettings = facts.missingSettings;
  s.controllers = line.controllers;
  s.bChannels = line.bChannels;
  s.bChannelsInUse = line.callsInProgress;
  s.callsInProgress = line.callsInProgress + sip.callsInProgress;
  s.faxesReceived = line.faxesReceived + sip.faxesReceived;
  s.lastFaxAt = static_cast<std::int64_t>(std::max(line.lastFaxAt, sip.lastFaxAt));
  s.sipEnabled = sip.enabled;
  if (sip.enabled) {
    s.sipRunning = sip.running;
    s.sipRegistered = sip.registration.registered;
    s.sipRegistrar = sip.registration.registrar;
    s.sipUser = sip.registration.user;
    s.sipExpiresAt = sip.registration.registered ? sip.registration.expiresAt : 0;
    s.sipFailure = sip.running ? sip.registration.failure : sip.failure;
    s.sipCalls = sip.callsInProgress;
    s.sipChannels = sip.channels;
  }
  // A SIP line that runs (registered, where it registers) takes calls whatever CAPI does.
  const bool sipTakesCalls =
      sip.enabled && sip.running && (sip.registration.registrar.empty() || sip.registration.registered);
  s.capiInfo = line.capiInfo & 0xFFFF;
  if (s.capiInfo != 0) {
    // libcapi20's own words for the code; the library's tables, not the line's bytes.
    const char* words = capi_info2str(static_cast<_cword>(s.capiInfo));
    s.capiReason = words ? words : "";
  }
  // Incomplete settings end the session once the line is idle: not listening from then on.
  s.listening =
      (line.state == LineStatus::State::kListening || line.state == LineStatus::State::kReceiving || sipTakesCalls) &&
      s.missingSettings.empty();
  if (!s.missingSettings.empty())
    s.notListeningWhy = "the settings are incomplete";
  else if (!facts.databaseOpen)
    s.notListeningWhy = "the database does not open";
  else if (line.state == LineStatus::State::kCapiUnavailable)
    s.notListeningWhy = line.controllers == 0 && s.capiInfo == 0 ? "CAPI names no controller" : "CAPI does not answer";
  else if (!s.listening)
    s.notListeningWhy = facts.receptionStarted ? "reception is starting" : "reception is not started";

  const CFaxInbox inbox(folder_, log_);
  s.inbox = static_cast<std::int64_t>(inbox.Count());
  s.setAside = static_cast<std::int64_t>(inbox.SetAsideCount());
  s.queuedMails = static_cast<std::int64_t>(MailQueueFileNames(MailQueueFolder(folder_)).size());
  s.undeliverableMails = static_cast<std::int64_t>(MailQueueFileNames(UndeliverableFolder(folder_)).size());

  if (facts.oauthUsed) {
    const OAuthView oauth = LookAtOAuthTokens(folder_);
    s.oauthUsed = true;
    s.oauthWell = oauth.well;
    s.oauthExpiresAt = oauth.expiresAt;
    s.oauthError = oauth.error;
  }
  return s;
}

void CStatusPublisher::Publish(const PublishedStatus& status) {
  const std::string path = StatusFilePath(folder_);
  if (WriteFileAtomically(path, StatusToJson(status), 0644)) {
    written_ = status;
    writeFailed_ = false;
    return;
  }
  // Once per spell of failures, so a full disk does not fill the log a second at a time.
  if (!writeFailed_) log_.WriteEventText("The status could not be written to " + path + ": " + std::strerror(errno));
  writeFailed_ = true;
  written_.heartbeatAt = status.heartbeatAt;
}

}  // namespace kestrel
