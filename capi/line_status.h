// LineStatus: what the reception worker is doing on the ISDN line, as the
// desktop shows it (the tray icon and its tooltip). A snapshot: the worker
// changes it as it registers, listens, takes a call or loses CAPI, and
// counts the faxes it hands over.
#pragma once

#include <ctime>

namespace kestrel {

struct LineStatus {
  enum class State {
    kStopped,          // no worker, or it has not started (yet)
    kListening,        // registered, waiting for a call on every controller
    kReceiving,        // fax calls are being captured (callsInProgress of them)
    kCapiUnavailable,  // CAPI could not be registered, no controller, or the link is lost
  };
  State state = State::kStopped;
  int controllers = 0;  // counted at registration
  int bChannels = 0;    // over all controllers
  // Calls holding a channel now (answered, not yet cleared); at most
  // bChannels, or 1 when the line takes one call at a time.
  int callsInProgress = 0;
  // The CAPI info of the last failed registration or profile query; 0 when
  // none failed since the last successful registration.
  unsigned capiInfo = 0;
  int faxesReceived = 0;      // handed over since the worker was made
  std::time_t lastFaxAt = 0;  // when the last of them ended; 0: none
};

}  // namespace kestrel
