// CSipReception: the SIP line's side of reception, beside the CAPI worker.
// It runs the SIP line (sip/sip_line.h) and answers its calls as the CAPI
// worker answers an ISDN call: no caller ID with RejectCallerID refused
// (603), a dialled number the MSN table (or MSNAll) does not serve refused
// (404), every other call answered and its fax received by a CFaxCall, over
// G.711 or T.38 (from the start, or after a re-INVITE of either side; with
// SipT38 the line asks for T.38 once the receiver hears fax tones), into a
// capture file "<caller digits>_DD-MM-YYYY-HH-MM-SS.tif" in ReceivedDir. The capture is announced to the forwarding
// side when the call is answered and handed over the moment T.30 ends, complete or cut short (then marked incomplete
// with the reason), exactly as a CAPI fax.
//
// A line that cannot start (the port taken, a registrar that does not
// resolve) is a state of this line, shown in its status and logged once;
// it never touches CAPI reception, and it is tried again with the next
// settings. Failures are logged; Start answers a Status (core/result.h).
//
// Threads: the line calls Offer/Answered/MediaChanged/Ended on its own
// thread, one at a time; each answered call has a thread of its own that waits for its fax
// and hands it over. Start, ChangeSettings and Stop are called from the
// service's thread; Status from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "core/result.h"
#include "core/service_settings.h"
#include "sip/sip_line.h"

namespace kestrel {

class IEventLog;
class IFaxHandOff;
class IRecipientResolver;

// What the SIP line is doing, for the status file, kestrel-admin and the tray.
struct SipLineStatus {
  bool enabled = false;  // SipEnabled: the line is meant to run
  bool running = false;  // the line is bound and takes calls
  std::string failure;   // why it does not run, when enabled and not running
  RegistrationState registration;
  int callsInProgress = 0;
  int channels = 0;           // SipChannels
  int faxesReceived = 0;      // handed over since the service started
  std::time_t lastFaxAt = 0;  // 0: none
};

class CSipReception final : private ISipCallHandler {
 public:
  // `resolver` is used on the line's thread only (give it a database
  // connection of its own); `handOff` is called from every call's thread.
  CSipReception(IEventLog& log, IRecipientResolver& resolver, IFaxHandOff& handOff);
  ~CSipReception() override;  // stops
  CSipReception(const CSipReception&) = delete;
  CSipReception& operator=(const CSipReception&) = delete;

  // Starts the line when `settings` enable it (otherwise stops it). A line
  // that cannot start is logged and shown in the status; the failure is
  // returned as well.
  kestrel::Status Start(const ServiceSettings& settings);
  // New settings: the values for calls (ReceivedDir, Number, RejectCallerID,
  // All, EmailAll) are taken for the next call; when a setting of the line
  // itself changed (Sip*), the line is started anew once no call holds a
  // channel.
  void ChangeSettings(const ServiceSettings& settings);
  // Ends every call (each fax handed over as far as it came, marked
  // incomplete), unregisters and stops the line.
  void Stop();

  SipLineStatus Status() const;

 private:
  SipAnswer Offer(const SipCallOffer& offer, int callId) override;
  void Answered(int callId, const SipMedia& media) override;
  bool MediaChanged(int callId, const SipMedia& media) override;
  void Ended(int callId) override;

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel
