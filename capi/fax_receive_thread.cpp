// The worker's thread and CAPI link: start requests and the cooperative stop,
// registration and release, the non-blocking message pump that feeds the call
// state machine, LISTEN, the session loop and the reception cycle. What the
// state machine asks for is carried out in fax_receive_actions.cpp.
#include "capi/fax_receive_thread.h"

#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "capi/capi_message.h"
#include "core/event_log.h"
#include "core/notice_sink.h"
#include "core/string_table.h"

namespace kestrel {
namespace {

// Registration values; libcapi20's register call takes no message buffer
// size. The logical connections are the line's B-channels.
constexpr unsigned kMaxB3Blocks = 7;
constexpr unsigned kMaxB3BlockLength = 2048;

constexpr std::uint32_t kCipMaskAllServices = 0x1FFF03FF;
constexpr int kMessagesPerPump = 6;
// Connection entries beyond one per call slot: calls that are turned away
// busy, or whose number no MSN takes, still need one until they are cleared.
constexpr int kSpareConnections = 6;
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// A stop waits this long for the network to confirm the tear-down.
constexpr auto kStopTeardownLimit = std::chrono::seconds(5);

// Why a fax was cut short by this side, in words that follow "Incomplete: ".
constexpr char kStoppedDuringCall[] = "the service stopped during the call";
constexpr char kLinkLostDuringCall[] = "the CAPI link was lost during the call";
constexpr char kSettingsTaken[] = "The reception uses the new settings from the next call on.";

std::string Format(const char* format, unsigned long a) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, a);
  return buf;
}

}  // namespace

CFaxReceiveThread::CFaxReceiveThread(IEventLog& log, INoticeSink& notices, IRecipientResolver& resolver,
                                     IFaxHandOff& handOff, ServiceSettings settings)
    : log_(log),
      notices_(notices),
      resolver_(resolver),
      handOff_(handOff),
      settings_(std::move(settings)),
      b3Configuration_(B3Configuration(settings_.Number)),
      machine_(CConnectionTable::Process(), resolver, *this, settings_.RejectCallerID) {
  // libcapi20 writes to its sockets without MSG_NOSIGNAL: a remote CAPI that
  // went away would end the process with SIGPIPE on the second put.
  std::signal(SIGPIPE, SIG_IGN);
  Log("Init Session");
  thread_ = std::thread([this] { ThreadMain(); });
}

CFaxReceiveThread::~CFaxReceiveThread() {
  Halt();
  Log("End Session");
  ReleaseCAPI();
}

void CFaxReceiveThread::PostStartRequest() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sessionRunning_ && endSessionWhenIdle_)
    endSessionWhenIdle_ = false;  // the running session goes on instead
  else
    ++startRequests_;
  wake_.notify_all();
}

void CFaxReceiveThread::EndSessionWhenIdle() {
  std::lock_guard<std::mutex> lock(mutex_);
  startRequests_ = 0;
  endSessionWhenIdle_ = sessionRunning_;
}

void CFaxReceiveThread::ChangeSettings(ServiceSettings settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  newSettings_ = std::move(settings);
}

void CFaxReceiveThread::TakeNewSettings() {
  std::optional<ServiceSettings> fresh;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fresh.swap(newSettings_);
  }
  if (!fresh) return;
  settings_ = std::move(*fresh);
  b3Configuration_ = B3Configuration(settings_.Number);
  FitCallsToLine();
  machine_.SetRejectCallerId(settings_.RejectCallerID);
  resolver_.SetAcceptAll(settings_.All, settings_.EmailAll);
  Log(kSettingsTaken);
}

bool CFaxReceiveThread::SessionEndDue() {
  std::lock_guard<std::mutex> lock(mutex_);
  return endSessionWhenIdle_;
}

void CFaxReceiveThread::Halt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool CFaxReceiveThread::StopRequested() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool CFaxReceiveThread::Pause(std::chrono::milliseconds d) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, d, [this] { return stop_; });
}

// The reception's texts are the call's running account; those that tell of a
// failure open with "Error", and only they are errors in the journal.
void CFaxReceiveThread::Log(const std::string& text) {
  log_.WriteEvent(text.starts_with("Error") ? EventSeverity::kError : EventSeverity::kInfo, text);
}

void CFaxReceiveThread::ThreadMain() {
  // Named, so that top -H and a benchmark can tell the pump's share.
  pthread_setname_np(pthread_self(), kPumpThreadName);
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || startRequests_ > 0; });
      if (stop_) return;
      --startRequests_;
      sessionRunning_ = true;
    }
    SessionLoop();
    std::lock_guard<std::mutex> lock(mutex_);
    sessionRunning_ = false;
    endSessionWhenIdle_ = false;
  }
}

int CFaxReceiveThread::RegisterCAPI() { return Register(true); }

// `report`: write why registration failed. Attempts after a lost link are
// quiet, so that a long outage leaves one line in the log, not one a try.
int CFaxReceiveThread::Register(bool report) {
  if (unsigned installed = capi20_isinstalled(); installed != CapiNoError) {
    statusCapiInfo_.store(installed);
    if (report) Log("Error: No ISDN-driver installed.");
    return 0;
  }
  int controllers = ControllerCount();
  if (controllers == 0) {
    if (report) Log("Error: No ISDN-controller installed.");
    return 0;
  }
  int channels = 0;
  for (int c = 1; c <= controllers; ++c) channels += BChannelCount(c);
  unsigned applId = 0;
  unsigned error =
      capi20_register(static_cast<unsigned>(std::max(channels, 1)), kMaxB3Blocks, kMaxB3BlockLength, &applId);
  if (error != CapiNoError) applId = 0;  // the library may leave a value behind on failure
  if (applId == 0) {
    statusCapiInfo_.store(error);
    if (report) Log(Format("Error: registering the application in function RegisterCAPI,code: %04X", error & 0xFFFF));
    return 0;
  }
  statusCapiInfo_.store(0);
  appId_ = applId;
  controllers_ = controllers;
  channels_ = channels;
  return controllers;
}

void CFaxReceiveThread::ReleaseCAPI() {
  if (appId_ == 0) return;
  unsigned result = capi20_release(appId_);
  if (result != CapiNoError)
    Log(Format("Error: deregistering the application in function ReleaseCAPI code: 0x%04X", result & 0xFFFF));
}

// libcapi20 asks for the profile on one connection it opens once and keeps;
// when a remote CAPI restarted, that connection is dead and only the release
// of a registered application makes the library open a new one. A failed
// query therefore registers and releases a throw-away application (that
// fails too while the remote is still away) and asks once more.
unsigned CFaxReceiveThread::GetProfile(unsigned controller, unsigned char* profile) {
  unsigned info = capi20_get_profile(controller, profile);
  if (info == CapiNoError) return info;
  unsigned probe = 0;
  if (capi20_register(1, 1, 128, &probe) != CapiNoError || probe == 0) return info;
  capi20_release(probe);
  return capi20_get_profile(controller, profile);
}

int CFaxReceiveThread::ControllerCount() {
  unsigned char profile[64] = {};
  if (unsigned info = GetProfile(0, profile); info != CapiNoError) {
    statusCapiInfo_.store(info);
    return 0;
  }
  return profile[0] | (profile[1] << 8);
}

int CFaxReceiveThread::BChannelCount(int controller) {
  unsigned char profile[64] = {};
  if (GetProfile(static_cast<unsigned>(controller), profile) != CapiNoError) return 0;
  return profile[2] | (profile[3] << 8);
}

void CFaxReceiveThread::FitCallsToLine() {
  int slots = std::clamp(channels_, 1, CCallStateMachine::kMaxSlots);
  if (settings_.CapiCalls > 0) slots = std::min(slots, settings_.CapiCalls);
  if (slots == machine_.CallSlots() && captures_.size() == static_cast<std::size_t>(slots)) return;
  CConnectionTable::Process().Resize(slots + kSpareConnections);
  machine_.SetCallSlots(slots);
  machine_.Reset();
  captures_.clear();
  for (int s = 0; s < slots; ++s) captures_.push_back(std::make_unique<CFaxCapture>(log_));
  PublishCalls();
}

void CFaxReceiveThread::PublishCalls() {
  const int calls = machine_.CallsInProgress();
  statusCalls_.store(calls);
  if (!linkLost_ && appId_ != 0)
    SetLineState(calls > 0 ? LineStatus::State::kReceiving : LineStatus::State::kListening);
}

unsigned CFaxReceiveThread::ListenAllControllers(std::uint32_t cipMask) {
  for (int controller = 1; controller <= controllers_; ++controller) {
    _cmsg m;
    capi_fill_LISTEN_REQ(&m, static_cast<_cword>(appId_), 0, static_cast<_cdword>(controller), 0, cipMask, 0, nullptr,
                         nullptr);
    unsigned info = capi_put_cmsg(&m);
    if (info != CapiNoError) return info;
  }
  return 0;
}

// A remote CAPI whose peer closed reads as "always readable, always empty";
// the socket itself tells EOF apart (a local adapter's fd is no socket).
bool CFaxReceiveThread::PeerClosed() {
  int fd = capi20_fileno(appId_);
  if (fd < 0) return false;
  char c;
  ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return true;
  return n < 0 && (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN);
}

bool CFaxReceiveThread::Handle_CAPI_Msg() {
  if (appId_ == 0 || linkLost_) return false;
  for (int i = 0; i < kMessagesPerPump; ++i) {
    // Remote CAPI has no non-blocking get: ask first whether anything is there.
    timeval noWait{0, 0};
    unsigned info = capi20_waitformessage(appId_, &noWait);
    if (info == CapiReceiveQueueEmpty) return false;
    if (info == CapiNoError && PeerClosed()) {
      LinkLost();
      return false;
    }
    unsigned char* raw = nullptr;
    if (info == CapiNoError) info = capi20_get_message(appId_, &raw);
    if (info == CapiReceiveQueueEmpty) return false;
    if (info != CapiNoError || !raw) {
      Log("Error: CAPI_GET_CMSG returns Info != 0 in function Handle_CAPI_Msg");
      return false;
    }
    std::size_t length = CAPIMSG_LEN(raw);
    if (!CapiMessageFits(raw, length)) {
      if (malformed_.FirstOfItsKind(raw, length)) Log("Error: malformed CAPI message in function Handle_CAPI_Msg");
      continue;
    }
    const std::uint8_t subcommand = CAPIMSG_SUBCOMMAND(raw);
    if (subcommand != CAPI_CONF && subcommand != CAPI_IND) {
      Log("Error: Unknown subcommand in function Handle_CAPI_Msg");
      return false;
    }
    const ReceivedCapiMessage message = DecodeCapiMessage(raw, length, current_);
    if (subcommand == CAPI_CONF)
      machine_.Handle_Confirmation(message);
    else
      machine_.Handle_Indication(message);
    PublishCalls();
    if (linkLost_) return false;
  }
  return true;
}

// A select on the application's socket: the pump sleeps until a message
// comes rather than for a fixed time, so a busy line is served at once.
void CFaxReceiveThread::WaitForMessage(std::chrono::milliseconds d) {
  if (appId_ == 0 || linkLost_) {
    Pause(d);
    return;
  }
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  timeval wait{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
  capi20_waitformessage(appId_, &wait);
}

LineStatus CFaxReceiveThread::Status() const {
  LineStatus status;
  status.state = static_cast<LineStatus::State>(state_.load());
  status.controllers = statusControllers_.load();
  status.bChannels = statusChannels_.load();
  status.callsInProgress = statusCalls_.load();
  status.capiInfo = statusCapiInfo_.load();
  status.faxesReceived = statusFaxes_.load();
  status.lastFaxAt = statusLastFax_.load();
  return status;
}

void CFaxReceiveThread::LinkLost() {
  linkLost_ = true;
  SetLineState(LineStatus::State::kCapiUnavailable);
  Log("Error: CAPI connection lost in function Handle_CAPI_Msg, registering again");
}

// The lost link takes the registration and every call with it; a fax that
// had begun is handed over with what arrived. The worker then tries to
// register again at each interval, quietly, until it succeeds or is stopped.
void CFaxReceiveThread::RecoverLink() {
  CapturesOn(false);
  machine_.CutShort(kLinkLostDuringCall);
  machine_.AbandonCall();
  CloseCaptures();
  if (appId_ != 0) capi20_release(appId_);  // the peer is gone; its answer says nothing
  appId_ = 0;
  machine_.Reset();
  statusCalls_.store(0);
  // The first attempt comes at once: it either finds the peer back or
  // leaves its CAPI info for the status to tell.
  do {
    if (Register(false) == 0) continue;
    linkLost_ = false;
    FitCallsToLine();
    SetLineState(LineStatus::State::kListening);
    Log("CAPI connection restored, fax reception resumed.");
    return;
  } while (Pause(reregisterInterval_));
}

void CFaxReceiveThread::SessionLoop() {
  ReleaseCAPI();  // a session that ended early may still hold its registration
  appId_ = 0;
  linkLost_ = false;
  TakeNewSettings();
  machine_.Reset();
  if (RegisterCAPI() == 0) {
    SetLineState(LineStatus::State::kCapiUnavailable);
    notices_.Notify(LoadString(IDS_CAPI_NOT_INITIATED), NoticeIcon::kError);
    return;
  }
  FitCallsToLine();
  const int controllers = controllers_;
  const int channels = channels_;
  statusControllers_.store(controllers);
  statusChannels_.store(channels);
  SetLineState(controllers > 0 ? LineStatus::State::kListening : LineStatus::State::kCapiUnavailable);
  char text[96];
  std::snprintf(text, sizeof text, "Detected %i controllers with %i B-channels overall.", controllers, channels);
  Log(text);
  if (controllers <= 0) {
    notices_.Notify(LoadString(IDS_NO_FREE_CONTROLLER), NoticeIcon::kError);
    return;
  }
  while (!StopRequested()) {
    if (linkLost_) {
      RecoverLink();
      continue;
    }
    if (machine_.SlotsFree() && SessionEndDue()) break;
    Handle_CAPI_Msg();
    ReceptionCycle();
    if (StopRequested() && !linkLost_) {
      // Every fax in progress is handed over with what arrived, once the
      // network has confirmed its tear-down or the stop's bound has passed.
      machine_.CutShort(kStoppedDuringCall);
      DisconnectAll();
      machine_.AbandonCall();
    }
    if (!linkLost_) PublishCalls();
  }
  if (StopRequested()) return;
  // Ended at an idle line: nothing listens until the next start request.
  ReleaseCAPI();
  appId_ = 0;
  SetLineState(LineStatus::State::kStopped);
}

// Runs until a call has reached the fax protocol and every slot is free
// again, or an interruption. One loop serves all slots: each call is handed
// over by the state machine as its own fax ends, and the pump sleeps only
// while no message waits.
void CFaxReceiveThread::ReceptionCycle() {
  Log("Begin of FAX-receive.");
  CapturesOn(true);
  ListenAllControllers(kCipMaskAllServices);
  const unsigned connectedBefore = machine_.ConnectedCalls();
  while (machine_.ConnectedCalls() == connectedBefore && !Interrupted()) {
    if (Handle_CAPI_Msg()) continue;
    if (machine_.SlotsFree()) {
      TakeNewSettings();
      if (SessionEndDue()) break;
    }
    WaitForMessage(kPollInterval);
  }
  while (!machine_.SlotsFree() && !Interrupted()) {
    if (!Handle_CAPI_Msg()) WaitForMessage(kPollInterval);
  }
  CapturesOn(false);
  Log("End of FAX-receive.");
}

void CFaxReceiveThread::DisconnectAll() {
  machine_.DisconnectAll();
  // Waits for the network without a pause of its own; only a stop bounds it.
  bool stopping = false;
  auto deadline = std::chrono::steady_clock::now();
  while (true) {
    Handle_CAPI_Msg();
    if (machine_.SlotsFree() || linkLost_) return;
    if (StopRequested()) {
      if (!stopping) deadline = std::chrono::steady_clock::now() + kStopTeardownLimit;
      stopping = true;
      if (std::chrono::steady_clock::now() >= deadline) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace kestrel
