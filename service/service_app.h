// CServiceApp: the service's application object without any desktop. It owns
// the application folder's service lock, the settings record, the database
// connections, the reception worker with the forwarding thread it hands faxes
// to, and the mail-queue monitor, and runs start-up, the settings replacement
// and exit.
// The tray program wraps it (adding the single-instance guard, the main frame
// and the options sheet as ISettingsEditor); kestreld wraps it as it is.
//
// Not thread-safe: every member is called on the user-interface thread (the
// main thread in kestreld). The worker and the monitor work on copies.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "capi/line_status.h"
#include "core/result.h"
#include "core/service_settings.h"
#include "service/sip_reception.h"

namespace kestrel {

class COdbcConnection;
class IForwardedFaxListener;
class IEventLog;
class INoticeSink;
class ISettingsEditor;

// What the desktop shows of the running service.
struct ServiceStatus {
  LineStatus line;              // stopped when reception does not run
  SipLineStatus sip;            // the SIP line beside it
  bool databaseOpen = false;    // the reception connection opened at start-up
  std::size_t queuedMails = 0;  // message files waiting in the mail queue
};

class CServiceApp {
 public:
  // `editor` may be null (kestreld): an incomplete configuration then cannot
  // be completed interactively and reception stays off (IDS_CONFIG_INCOMPLETE).
  CServiceApp(IEventLog& log, INoticeSink& notices, ISettingsEditor* editor);
  ~CServiceApp();
  CServiceApp(const CServiceApp&) = delete;
  CServiceApp& operator=(const CServiceApp&) = delete;

  // Start-up without desktop steps: the application folder's service lock,
  // settings (migration or kestrel.xml), worker, reception connection,
  // first-run settings command when incomplete, MSN table check,
  // StartReception. Fails only when the service cannot run at all: another
  // service holds the folder (RunningService names it), or kestrel.xml (or
  // the registry source) holds what cannot be used (step "settings"); the
  // failure's text says which, and the settings reason is in the event log too.
  kestrel::Status InitInstance();
  // The process that serves this application folder when it is not this
  // one: its id, -1 when its id is unknown, 0 when none (or this one) does.
  pid_t RunningService() const;
  // Halts the worker, closes the database, stops the monitor. Returns 0.
  int ExitInstance();

  // Starts reception (the worker, when not running yet) with the current
  // settings. When they are incomplete: IDS_CONFIG_INCOMPLETE, and reception
  // ends once the line is idle (a call in progress is received and handed
  // over first).
  void StartReception();

  // The Settings command: shows the editor over a copy of the settings (the
  // monitor stopped meanwhile); OK saves kestrel.xml and gives the running
  // worker the new values, Cancel starts the monitor again. Does nothing
  // while already open.
  void SettingsCommand();

  // What a confirmed sheet does: takes `values`, saves kestrel.xml, gives
  // them to the running worker and starts reception. The worker is not
  // replaced: a call in progress ends with the values it began with and is
  // handed over, the next call uses the new ones, and the forwarding thread
  // takes them between two faxes. Values that do not fit the settings table
  // are refused (the running settings stay, one event says why); when
  // kestrel.xml cannot be written the values still serve this run. Either
  // failure is logged and returned.
  kestrel::Status ApplySettings(const ServiceSettings& values);
  // Re-reads kestrel.xml (as at start-up, without migration) and gives the
  // values read to the running worker as ApplySettings does; the file itself
  // is left as it is. For SIGHUP. A file that cannot be used changes nothing:
  // the running settings stay, and the failure (also written to the event
  // log) is returned.
  kestrel::Status ReloadSettingsFile();

  // The administration connection (opened on first use): the MSN table check
  // and the forwarding editors, on the user-interface thread only.
  COdbcConnection& AdministrationConnection();
  // The pause of the mail-queue monitor (three minutes unless shortened).
  void SetMailQueuePause(int milliseconds);
  // The administrator's "send the queue now": the monitor ends its pause.
  void TryMailQueueNow();
  // Told on the forwarding thread about every fax that is done (null:
  // nobody); takes effect with the next worker, so set it before InitInstance.
  void SetForwardedFaxListener(IForwardedFaxListener* listener);

  // The line's state (read from the worker, which may change it at any
  // moment), the database and the queue folder; for the tray's icon.
  ServiceStatus Status() const;

  const ServiceSettings& Settings() const;
  const std::string& ApplicationFolder() const;
  bool ReceptionRunning() const;
  bool SettingsSheetOpen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel
