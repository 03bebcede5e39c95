// CFaxReceiveThread: the reception worker, the only part of Kestrel that talks
// to the ISDN adapter. It registers one CAPI 2.0 application through
// libcapi20, listens on every controller, answers fax calls for the numbers
// the recipient resolver accepts, captures each fax into an SFF file in
// `ReceivedDir`, and after every call hands the FaxCallRecord to the
// forwarding step, all on its own thread.
//
// Everything arriving from CAPI is untrusted: messages are checked against
// their own length before libcapi20 decomposes them or a field is read, and
// malformed ones are logged and dropped.
//
// Thread-safety: construct, PostStartRequest, Halt and destroy from one
// controlling thread. All CAPI calls, the connection table, the slots and the
// FaxCallRecord belong to the worker thread; the resolver and the forwarding
// step are called on it. A stop is cooperative: every waiting loop tests the
// stop flag at least every 100 ms, and Halt returns once the thread has ended.
#pragma once

#include <capi20.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "capi/connection_table.h"
#include "capi/fax_call_record.h"
#include "capi/fax_capture.h"
#include "capi/forwarding_step.h"
#include "capi/recipient_resolver.h"
#include "core/service_settings.h"

namespace kestrel {

class IEventLog;
class INoticeSink;

class CFaxReceiveThread {
 public:
  // Writes "Init Session" and starts the worker thread, which waits for a
  // start request.
  CFaxReceiveThread(IEventLog& log, INoticeSink& notices, IRecipientResolver& resolver, IForwardingStep& forwarding,
                    ServiceSettings settings, std::string applicationFolder);
  // Halts the thread, writes "End Session" and releases the CAPI registration.
  ~CFaxReceiveThread();
  CFaxReceiveThread(const CFaxReceiveThread&) = delete;
  CFaxReceiveThread& operator=(const CFaxReceiveThread&) = delete;

  // Queues a start request (the start message): the thread runs its session
  // loop, which returns only when CAPI cannot be registered or on a stop.
  void PostStartRequest();
  // Asks the thread to stop and waits until it has ended. A call in progress
  // is torn down (for at most a few seconds) and not forwarded. Idempotent.
  void Halt();

  // How long to wait between registration attempts after the CAPI link was
  // lost (30 seconds). Set before the first start request.
  void SetReregisterInterval(std::chrono::milliseconds interval) { reregisterInterval_ = interval; }

 private:
  // Registration and message pump.
  int RegisterCAPI();
  int Register(bool report);
  void ReleaseCAPI();
  unsigned GetProfile(unsigned controller, unsigned char* profile);
  int ControllerCount();
  int BChannelCount(int controller);
  void Handle_CAPI_Msg();
  unsigned ListenAllControllers(std::uint32_t cipMask);
  bool PeerClosed();
  void LinkLost();
  void RecoverLink();
  void Put(_cmsg& message);

  // Session, reception cycle and connection handling.
  void ThreadMain();
  void SessionLoop();
  bool ReceptionCycle();
  void Handle_Indication();
  void Handle_Confirmation();
  void OnConnectInd();
  bool IncomingCall(int id, const std::string& callerNumber, const std::string& recipients);
  void SetState(int id, ConnectionState state);
  void StateChange(int id, ConnectionState state);
  void Disconnect(int id);
  void DisconnectAll();
  void SendConnectResp(std::uint16_t messageNumber, std::uint32_t plci, std::uint16_t reject, bool withProtocols,
                       bool withB3Configuration);
  int SlotOf(int id) const;
  bool SlotsFree() const { return slots_[0] == -1 && slots_[1] == -1; }

  // Waits up to `d` or until a stop is requested; false on a stop.
  bool Pause(std::chrono::milliseconds d);
  bool StopRequested();
  bool Interrupted() { return linkLost_ || StopRequested(); }
  void Log(const std::string& text);

  IEventLog& log_;
  INoticeSink& notices_;
  IRecipientResolver& resolver_;
  IForwardingStep& forwarding_;
  ServiceSettings settings_;
  std::string applicationFolder_;
  std::chrono::milliseconds reregisterInterval_{30000};

  // Registration state and the message fetched last.
  unsigned appId_ = 0;
  int controllers_ = 0;
  _cmsg current_{};
  const std::uint8_t* currentRaw_ = nullptr;
  std::size_t currentLength_ = 0;
  bool linkLost_ = false;

  CConnectionTable& table_;
  int slots_[2] = {-1, -1};
  // Set when the call in slot 0 reaches Connected, cleared after its
  // forwarding step: until then its record must stay as it is, so further
  // calls are refused as busy.
  bool awaitingForwarding_ = false;
  FaxCallRecord record_;
  CFaxCapture capture_;
  std::string b3Configuration_;

  std::mutex mutex_;
  std::condition_variable wake_;
  int startRequests_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kestrel
