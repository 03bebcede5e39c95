#include "service/service_app.h"

#include <chrono>
#include <csignal>
#include <filesystem>

#include "capi/fax_receive_thread.h"
#include "core/event_log.h"
#include "core/notice_sink.h"
#include "core/setting_table.h"
#include "core/settings_file.h"
#include "core/settings_store.h"
#include "core/settings_view.h"
#include "core/string_table.h"
#include "forward/forwarding_pipeline.h"
#include "forward/forwarding_worker.h"
#include "forward/mail_queue.h"
#include "forward/mail_queue_monitor.h"
#include "forward/recipient_resolution.h"
#include "platform/app_folder.h"
#include "platform/registry_file.h"
#include "service/service_lock.h"
#include "service/settings_editor.h"
#include "service/sip_reception.h"
#include "service/status_publisher.h"
#include "store/database_exception.h"
#include "store/odbc_connection.h"
#include "store/schema.h"

namespace kestrel {

// The reception worker and the forwarding thread it hands each fax to, built
// together from one copy of the settings, destroyed together (reception
// first, so nothing is handed over to a stopped forwarding thread). Each
// thread looks up recipients on a database connection of its own. Built once
// per run: new settings reach the running threads (ChangeSettings), so a
// reload never cuts a call nor drops what the forwarding thread holds.
struct CReceptionWorker {
  CReceptionWorker(IEventLog& log, INoticeSink& notices, COdbcConnection& reception, COdbcConnection& forwardingDb,
                   COdbcConnection& sipDb, const ServiceSettings& s, const std::string& folder)
      : resolver(s.All, s.EmailAll, reception, log),
        forwardingResolver(s.All, s.EmailAll, forwardingDb, log),
        sipResolver(s.All, s.EmailAll, sipDb, log),
        pipeline(log, forwardingResolver),
        forwarding(log, pipeline, s, folder),
        thread(log, notices, resolver, forwarding, s),
        sip(log, sipResolver, forwarding) {}
  CRecipientResolver resolver;
  CRecipientResolver forwardingResolver;
  CRecipientResolver sipResolver;  // the SIP line's thread's
  CForwardingPipeline pipeline;
  CForwardingWorker forwarding;
  // The lines last: constructed after, destroyed before the parts they use.
  CFaxReceiveThread thread;
  CSipReception sip;
};

struct CServiceApp::Impl {
  Impl(IEventLog& l, INoticeSink& n, ISettingsEditor* e)
      : status(l), log(status), notices(n), editor(e), monitor(log) {}

  void CreateWorker() {
    worker = std::make_unique<CReceptionWorker>(log, notices, reception, forwardingDb, sipDb, settings, folder);
    worker->forwarding.SetListener(listener);
    workerStarted = false;
    status.SetLine(&worker->thread, &worker->sip);
  }

  void DestroyWorker() {
    status.SetLine(nullptr, nullptr);
    worker.reset();
  }

  // What the status file tells that only this thread knows; after every change of it.
  void PublishFacts() {
    std::vector<std::string> missing;
    for (std::string_view name : MissingSettings(settings)) missing.emplace_back(name);
    status.SetFacts({.missingSettings = std::move(missing),
                     .databaseOpen = databaseOpen,
                     .receptionStarted = workerStarted,
                     .oauthUsed = settings.AuthenticationMethod == SmtpAuthentication::OAuth});
  }

  // Complete settings go to the running threads, each taking them between
  // calls or faxes; incomplete ones are left to StartReception, which ends
  // reception.
  void GiveWorkerTheSettings() {
    if (!worker || !settings.IsComplete()) return;
    worker->thread.ChangeSettings(settings);
    worker->sip.ChangeSettings(settings);
    worker->forwarding.ChangeSettings(settings);
  }

  // The secrets-free copy for the folder's group (kestrel-admin settings),
  // beside a kestrel.xml only.
  void ShareSettingsView() {
    if (!std::filesystem::exists(SettingsFilePath(folder))) return;
    if (kestrel::Status shared = WriteSettingsView(folder, settings); !shared)
      log.WriteEventText("The settings view was not written: " + shared.Describe());
  }

  // First: every part logs through it, and it outlives them.
  CStatusPublisher status;
  IEventLog& log;
  INoticeSink& notices;
  ISettingsEditor* editor;
  ServiceSettings settings;
  std::string folder;
  CServiceLock lock;
  COdbcConnection reception;
  COdbcConnection forwardingDb;  // the forwarding thread's
  COdbcConnection sipDb;         // the SIP line's thread's
  COdbcConnection administration;
  CMailQueueMonitor monitor;
  IForwardedFaxListener* listener = nullptr;
  std::unique_ptr<CReceptionWorker> worker;
  bool workerStarted = false;
  bool sheetOpen = false;
  bool databaseOpen = false;
};

CServiceApp::CServiceApp(IEventLog& log, INoticeSink& notices, ISettingsEditor* editor)
    : impl_(std::make_unique<Impl>(log, notices, editor)) {}

CServiceApp::~CServiceApp() {
  if (impl_->worker || impl_->monitor.IsRunning() || impl_->lock.Held()) ExitInstance();
}

kestrel::Status CServiceApp::InitInstance() {
  Impl& d = *impl_;
  d.folder = kestrel::ApplicationFolder();
  if (kestrel::Status locked = d.lock.Acquire(d.folder); !locked) return locked;
  // Sockets: a peer that closes early must not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  CRegistryFile registry(CRegistryFile::DefaultPath());
  if (auto loaded = LoadSettings(d.settings, registry, d.folder, d.log); !loaded) {
    const std::string reason = "The settings cannot be used, so the service does not start. " + loaded.Describe();
    d.log.WriteEventText(reason);
    d.lock.Release();
    return kestrel::Status::Failed("settings", reason);
  }
  d.ShareSettingsView();

  d.CreateWorker();  // "Init Session"

  // Open before anything can start the worker (the first-run sheet does):
  // its lookups must never meet a connection still being opened.
  std::string databaseError;
  try {
    d.reception.Open();
    d.databaseOpen = true;
  } catch (const CDatabaseException& e) {
    databaseError = std::string(LoadString(IDS_DATABASE_OPEN_FAILED)) + "\nUrsache:\n" + e.Message();
  }

  bool startedBySheet = false;
  if (!d.settings.IsComplete() && d.editor) {
    d.notices.Notify(LoadString(IDS_NOT_CONFIGURED), NoticeIcon::kInformation);
    SettingsCommand();
    startedBySheet = d.workerStarted;
  }

  EnsureMsnTable(d.administration, d.notices);

  if (d.databaseOpen) {
    if (!startedBySheet) StartReception();
  } else {
    d.notices.Notify(databaseError, NoticeIcon::kError);
  }
  d.PublishFacts();
  d.status.Start(d.folder);
  return {};
}

pid_t CServiceApp::RunningService() const {
  return impl_->lock.Held() ? 0 : CServiceLock::RunningService(kestrel::ApplicationFolder());
}

int CServiceApp::ExitInstance() {
  Impl& d = *impl_;
  d.status.Stop();
  d.DestroyWorker();
  d.reception.Close();
  d.forwardingDb.Close();
  d.sipDb.Close();
  d.databaseOpen = false;
  d.administration.Close();
  d.monitor.StartMailQueueMonitor(false);
  d.lock.Release();
  return 0;
}

void CServiceApp::StartReception() {
  Impl& d = *impl_;
  if (!d.settings.IsComplete()) {
    d.notices.Notify(LoadString(IDS_CONFIG_INCOMPLETE), NoticeIcon::kError);
    // A call in progress is received to its end and handed over first.
    if (d.worker) {
      d.worker->thread.EndSessionWhenIdle();
      // The SIP line too, once its calls have ended.
      ServiceSettings off = d.settings;
      off.SipEnabled = false;
      d.worker->sip.ChangeSettings(off);
    }
    d.workerStarted = false;
    d.PublishFacts();
    return;
  }
  if (!d.worker) d.CreateWorker();
  if (!d.monitor.IsRunning()) {
    d.monitor.SetSettings(d.settings, d.folder);
  }
  if (!d.workerStarted) {
    d.worker->forwarding.Start();  // first the faxes an earlier run left
    d.worker->thread.PostStartRequest();
    (void)d.worker->sip.Start(d.settings);  // a line that does not run is logged and shown, CAPI goes on
    d.workerStarted = true;
  }
  d.monitor.StartMailQueueMonitor(true);
  d.PublishFacts();
}

void CServiceApp::SettingsCommand() {
  Impl& d = *impl_;
  if (d.sheetOpen || !d.editor) return;
  d.sheetOpen = true;
  ServiceSettings values = d.settings;
  const bool monitorWasRunning = d.monitor.IsRunning();
  d.monitor.StartMailQueueMonitor(false);
  if (d.editor->EditSettings(values)) {
    (void)ApplySettings(values);  // logged; the sheet's values serve this run either way
  } else if (monitorWasRunning) {
    // Otherwise queued mail would wait for the next confirmed sheet or restart.
    d.monitor.StartMailQueueMonitor(true);
  }
  d.sheetOpen = false;
}

kestrel::Status CServiceApp::ApplySettings(const ServiceSettings& values) {
  Impl& d = *impl_;
  if (kestrel::Status fits = CheckSettings(values); !fits) {
    d.log.WriteEventText("The settings were not taken; the running settings stay. " + fits.Error().text);
    return fits;
  }
  d.settings = values;
  kestrel::Status saved = ExportSettings(SettingsFilePath(d.folder), d.settings, d.log);
  if (!saved) d.log.WriteEventText("The settings were not saved: " + saved.Describe());
  d.ShareSettingsView();
  d.monitor.StartMailQueueMonitor(false);  // takes the new settings when it starts again
  d.GiveWorkerTheSettings();
  StartReception();
  return saved;
}

kestrel::Status CServiceApp::ReloadSettingsFile() {
  Impl& d = *impl_;
  ServiceSettings fresh = d.settings;  // keeps what the file does not carry
  if (kestrel::Status imported = ImportSettings(SettingsFilePath(d.folder), fresh, d.log); !imported) {
    d.log.WriteEventText("The settings file was not re-read; the running settings stay. " + imported.Describe());
    return imported;
  }
  d.settings = fresh;
  d.ShareSettingsView();
  d.monitor.StartMailQueueMonitor(false);
  d.GiveWorkerTheSettings();
  StartReception();
  return {};
}

ServiceStatus CServiceApp::Status() const {
  const Impl& d = *impl_;
  ServiceStatus status;
  if (d.worker && d.workerStarted) {
    status.line = d.worker->thread.Status();
    status.sip = d.worker->sip.Status();
  }
  status.databaseOpen = d.databaseOpen;
  if (!d.folder.empty()) status.queuedMails = MailQueueFileNames(MailQueueFolder(d.folder)).size();
  return status;
}

COdbcConnection& CServiceApp::AdministrationConnection() { return impl_->administration; }

void CServiceApp::SetForwardedFaxListener(IForwardedFaxListener* listener) { impl_->listener = listener; }

void CServiceApp::TryMailQueueNow() { impl_->monitor.TryNow(); }

void CServiceApp::SetMailQueuePause(int milliseconds) {
  impl_->monitor.SetPause(std::chrono::milliseconds(milliseconds));
}

const ServiceSettings& CServiceApp::Settings() const { return impl_->settings; }
const std::string& CServiceApp::ApplicationFolder() const { return impl_->folder; }
bool CServiceApp::ReceptionRunning() const { return impl_->worker && impl_->workerStarted; }
bool CServiceApp::SettingsSheetOpen() const { return impl_->sheetOpen; }

}  // namespace kestrel
