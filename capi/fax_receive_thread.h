// CFaxReceiveThread: the reception worker, the only part of Kestrel that talks
// to the ISDN adapter. It registers one CAPI 2.0 application through
// libcapi20, listens on every controller, pumps the messages into the call
// state machine and carries out what that decides: messages put through
// libcapi20, each fax captured into an SFF file of its own in `ReceivedDir`.
// It takes one call per B-channel at once (or as few as CapiCalls says),
// tells the forwarding side of each answered call, and hands each call over
// the moment its fax is complete (or cut short), before the tear-down,
// whatever the other calls do; the forwarding side records it and returns at
// once: the line never waits for mail, and no call waits for another.
//
// Everything arriving from CAPI is untrusted: messages are checked against
// their own length before libcapi20 decomposes them or a field is read, and
// malformed ones are logged and dropped or handed on marked as such.
//
// Thread-safety: construct, PostStartRequest, ChangeSettings,
// EndSessionWhenIdle, Halt and destroy from one controlling thread. All CAPI
// calls, the state machine with its connection table and slots, the capture
// and the settings in use belong to the worker thread; the resolver and the
// hand-off are called on it. A stop is cooperative: every waiting loop tests
// the stop flag at least every 100 ms, and Halt returns once the thread has
// ended. New settings and the end of a session wait for an idle line (no
// slot taken, no call being answered), so a call always ends as it began.
// Failures: CAPI and file failures are written to the event log (and into
// the call's record); no operation reports one to its caller.
#pragma once

#include <capi20.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capi/call_actions.h"
#include "capi/call_state_machine.h"
#include "capi/capi_message.h"
#include "capi/fax_capture.h"
#include "capi/fax_hand_off.h"
#include "capi/line_status.h"
#include "capi/recipient_resolver.h"
#include "core/service_settings.h"

namespace kestrel {

class IEventLog;
class INoticeSink;

class CFaxReceiveThread final : private ICallActions {
 public:
  // The worker thread's name, as /proc/<pid>/task/<tid>/comm shows it.
  static constexpr char kPumpThreadName[] = "kestrel-capi";

  // Writes "Init Session" and starts the worker thread, which waits for a
  // start request.
  CFaxReceiveThread(IEventLog& log, INoticeSink& notices, IRecipientResolver& resolver, IFaxHandOff& handOff,
                    ServiceSettings settings);
  // Halts the thread, writes "End Session" and releases the CAPI registration.
  ~CFaxReceiveThread() override;
  CFaxReceiveThread(const CFaxReceiveThread&) = delete;
  CFaxReceiveThread& operator=(const CFaxReceiveThread&) = delete;

  // Queues a start request (the start message): the thread runs its session
  // loop, which returns only when CAPI cannot be registered, on a stop, or at
  // EndSessionWhenIdle. Withdraws an end of session not carried out yet.
  void PostStartRequest();
  // The session, running or requested, ends (CAPI released, nothing
  // listening) once the line is idle; a call in progress is received to its end first.
  void EndSessionWhenIdle();
  // Settings for the calls to come: taken by the thread once the line is
  // idle (ReceivedDir, Number, RejectCallerID, CapiCalls, and the resolver's
  // All and EmailAll), with an event text; the calls in progress keep those
  // they began with.
  void ChangeSettings(ServiceSettings settings);
  // Asks the thread to stop and waits until it has ended. Every call in
  // progress is torn down (all of them together, waiting at most five
  // seconds for the network) and, when its fax had begun, handed over marked
  // incomplete. Idempotent.
  void Halt();

  // How long to wait between registration attempts after the CAPI link was
  // lost (30 seconds). Set before the first start request.
  void SetReregisterInterval(std::chrono::milliseconds interval) { reregisterInterval_ = interval; }

  // What the line is doing now. Any thread may ask.
  LineStatus Status() const;

 private:
  // Registration and message pump.
  int RegisterCAPI();
  int Register(bool report);
  void ReleaseCAPI();
  unsigned GetProfile(unsigned controller, unsigned char* profile);
  int ControllerCount();
  int BChannelCount(int controller);
  // Sizes the connection table, the call slots and the captures for the
  // line's channels and CapiCalls; only at an idle line.
  void FitCallsToLine();
  // The calls in progress, for Status.
  void PublishCalls();
  // Up to six messages; true when the last get found one, so more may wait.
  bool Handle_CAPI_Msg();
  // Waits up to `d` for a message, or less on a stop.
  void WaitForMessage(std::chrono::milliseconds d);
  unsigned ListenAllControllers(std::uint32_t cipMask);
  bool PeerClosed();
  void LinkLost();
  void RecoverLink();

  // Session and reception cycle.
  void ThreadMain();
  void SessionLoop();
  void ReceptionCycle();
  void DisconnectAll();
  // At an idle line: takes settings waiting from ChangeSettings.
  void TakeNewSettings();
  // At an idle line: whether EndSessionWhenIdle asks the session to end.
  bool SessionEndDue();

  // The state machine's side: the current message decoded for it, and its
  // actions carried out with libcapi20 and the capture file.
  void Put(const OutgoingCapiMessage& message) override;
  bool OpenCapture(int slot, const std::string& callerNumber, std::string& path) override;
  void AppendData(int slot, const std::uint8_t* data, std::size_t length) override;
  void CallAnswered(FaxCallRecord& call) override;
  void FaxEnded(int slot, FaxCallRecord& call) override;
  void CallDropped(int slot, const FaxCallRecord& call) override;
  // Every slot's capture.
  void CapturesOn(bool on);
  void CloseCaptures();
  void WriteEventText(std::string_view text) override;

  // Waits up to `d` or until a stop is requested; false on a stop.
  bool Pause(std::chrono::milliseconds d);
  bool StopRequested();
  bool Interrupted() { return linkLost_ || StopRequested(); }
  void Log(const std::string& text);

  IEventLog& log_;
  INoticeSink& notices_;
  IRecipientResolver& resolver_;
  IFaxHandOff& handOff_;
  ServiceSettings settings_;
  std::chrono::milliseconds reregisterInterval_{30000};

  // Registration state and the message fetched last.
  unsigned appId_ = 0;
  int controllers_ = 0;
  int channels_ = 0;  // over all controllers, as the profile reports them
  _cmsg current_{};
  bool linkLost_ = false;
  CMalformedCapiMessages malformed_;

  std::vector<std::unique_ptr<CFaxCapture>> captures_;  // one per call slot
  std::string b3Configuration_;
  CCallStateMachine machine_;

  // The status as the worker last set it, for other threads to read.
  void SetLineState(LineStatus::State state) { state_.store(static_cast<int>(state)); }
  std::atomic<int> state_{static_cast<int>(LineStatus::State::kStopped)};
  std::atomic<int> statusControllers_{0};
  std::atomic<int> statusChannels_{0};
  std::atomic<int> statusCalls_{0};
  std::atomic<unsigned> statusCapiInfo_{0};
  std::atomic<int> statusFaxes_{0};
  std::atomic<std::time_t> statusLastFax_{0};

  std::mutex mutex_;
  std::condition_variable wake_;
  int startRequests_ = 0;
  bool sessionRunning_ = false;
  bool endSessionWhenIdle_ = false;
  std::optional<ServiceSettings> newSettings_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kestrel
