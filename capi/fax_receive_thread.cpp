// The worker's thread and CAPI link: start requests and the cooperative stop,
// registration and release, the non-blocking message pump that feeds the call
// state machine, LISTEN, the session loop and the reception cycle. What the
// state machine asks for is carried out in fax_receive_actions.cpp.
#include "capi/fax_receive_thread.h"

#include <sys/socket.h>

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

// Registration values; libcapi20's register call takes no message buffer size.
constexpr unsigned kMaxLogicalConnections = 2;
constexpr unsigned kMaxB3Blocks = 7;
constexpr unsigned kMaxB3BlockLength = 2048;

constexpr std::uint32_t kCipMaskAllServices = 0x1FFF03FF;
constexpr int kMessagesPerPump = 6;
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
      capture_(log),
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
  unsigned applId = 0;
  unsigned error = capi20_register(kMaxLogicalConnections, kMaxB3Blocks, kMaxB3BlockLength, &applId);
  if (error != CapiNoError) applId = 0;  // the library may leave a value behind on failure
  if (applId == 0) {
    statusCapiInfo_.store(error);
    if (report) Log(Format("Error: registering the application in function RegisterCAPI,code: %04X", error & 0xFFFF));
    return 0;
  }
  statusCapiInfo_.store(0);
  appId_ = applId;
  controllers_ = controllers;
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

void CFaxReceiveThread::Handle_CAPI_Msg() {
  if (appId_ == 0 || linkLost_) return;
  for (int i = 0; i < kMessagesPerPump; ++i) {
    // Remote CAPI has no non-blocking get: ask first whether anything is there.
    timeval noWait{0, 0};
    unsigned info = capi20_waitformessage(appId_, &noWait);
    if (info == CapiReceiveQueueEmpty) return;
    if (info == CapiNoError && PeerClosed()) {
      LinkLost();
      return;
    }
    unsigned char* raw = nullptr;
    if (info == CapiNoError) info = capi20_get_message(appId_, &raw);
    if (info == CapiReceiveQueueEmpty) return;
    if (info != CapiNoError || !raw) {
      Log("Error: CAPI_GET_CMSG returns Info != 0 in function Handle_CAPI_Msg");
      return;
    }
    std::size_t length = CAPIMSG_LEN(raw);
    if (!CapiMessageFits(raw, length)) {
      if (malformed_.FirstOfItsKind(raw, length)) Log("Error: malformed CAPI message in function Handle_CAPI_Msg");
      continue;
    }
    const std::uint8_t subcommand = CAPIMSG_SUBCOMMAND(raw);
    if (subcommand != CAPI_CONF && subcommand != CAPI_IND) {
      Log("Error: Unknown subcommand in function Handle_CAPI_Msg");
      return;
    }
    const ReceivedCapiMessage message = DecodeCapiMessage(raw, length, current_);
    if (subcommand == CAPI_CONF)
      machine_.Handle_Confirmation(message);
    else
      machine_.Handle_Indication(message);
    if (linkLost_) return;
  }
}

LineStatus CFaxReceiveThread::Status() const {
  LineStatus status;
  status.state = static_cast<LineStatus::State>(state_.load());
  status.controllers = statusControllers_.load();
  status.bChannels = statusChannels_.load();
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
  capture_.Off();
  machine_.CutShort(kLinkLostDuringCall);
  machine_.AbandonCall();
  capture_.Close();
  if (appId_ != 0) capi20_release(appId_);  // the peer is gone; its answer says nothing
  appId_ = 0;
  machine_.Reset();
  // The first attempt comes at once: it either finds the peer back or
  // leaves its CAPI info for the status to tell.
  do {
    if (Register(false) == 0) continue;
    linkLost_ = false;
    SetLineState(LineStatus::State::kListening);
    Log("CAPI connection restored, fax reception resumed.");
    return;
  } while (Pause(reregisterInterval_));
}

void CFaxReceiveThread::SessionLoop() {
  TakeNewSettings();
  machine_.Reset();
  ReleaseCAPI();  // a session that ended early may still hold its registration
  appId_ = 0;
  linkLost_ = false;
  if (RegisterCAPI() == 0) {
    SetLineState(LineStatus::State::kCapiUnavailable);
    notices_.Notify(LoadString(IDS_CAPI_NOT_INITIATED), NoticeIcon::kError);
    return;
  }
  int controllers = ControllerCount();
  int channels = 0;
  for (int c = 1; c <= controllers; ++c) channels += BChannelCount(c);
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
      // The fax in progress is handed over with what arrived, once the
      // network has confirmed the tear-down or the stop's bound has passed.
      machine_.CutShort(kStoppedDuringCall);
      DisconnectAll();
      machine_.AbandonCall();
    }
    if (!linkLost_) SetLineState(LineStatus::State::kListening);
  }
  if (StopRequested()) return;
  // Ended at an idle line: nothing listens until the next start request.
  ReleaseCAPI();
  appId_ = 0;
  SetLineState(LineStatus::State::kStopped);
}

// Runs until a call has reached the fax protocol in slot 0 and ended, or an
// interruption. The call itself is handed over by the state machine.
void CFaxReceiveThread::ReceptionCycle() {
  Log("Begin of FAX-receive.");
  capture_.On();
  ListenAllControllers(kCipMaskAllServices);
  const unsigned connectedBefore = machine_.ConnectedCalls();
  while (machine_.ConnectedCalls() == connectedBefore && !Interrupted()) {
    Handle_CAPI_Msg();
    if (machine_.SlotsFree()) {
      TakeNewSettings();
      if (SessionEndDue()) break;
    }
    Pause(kPollInterval);
  }
  while (machine_.Slot(0) != -1 && !Interrupted()) {
    Handle_CAPI_Msg();
    Pause(kPollInterval);
  }
  capture_.Off();
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
