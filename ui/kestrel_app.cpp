#include "ui/kestrel_app.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "desktop/instance_checker.h"
#include "desktop/message_box.h"
#include "platform/app_folder.h"
#include "service/service_app.h"
#include "service/service_lock.h"
#include "ui/about_box.h"
#include "ui/email_page.h"
#include "ui/fax_notifier.h"
#include "ui/main_frame.h"
#include "ui/options_sheet.h"
#include "ui/tray_status.h"
#include "ui/ui_string_table.h"

namespace kestrel {
namespace {

constexpr char kJotterProgram[] = "jotter";
// The tray's state is read this often: cheap (atomics and one folder listing).
constexpr int kStatusIntervalMs = 2000;
constexpr char kJotterMissing[] = "Jotter does not exist in the application folder.";
constexpr char kHelpPage[] = "kestrel-help.html";
constexpr char kHelpMissing[] = "The help page kestrel-help.html does not exist in the application folder.";

QString FindInProgramFolders(const char* name) {
  for (const std::string& folder : {ApplicationFolder(), ExecutableFolder()}) {
    const QString path = QString::fromStdString(folder) + QString::fromLatin1(name);
    if (QFileInfo(path).isFile()) return path;
  }
  return {};
}

}  // namespace

const char CKestrelApp::kNoTrayText[] =
    "No notification area was found on this desktop, so Kestrel shows no icon. "
    "It keeps receiving and forwarding faxes.\n\n"
    "To change its settings, start kestrel again (from the menu or with the command kestrel): "
    "the running program then opens its settings.";

CKestrelApp::CKestrelApp() = default;

CKestrelApp::~CKestrelApp() {
  // The service first: its worker may still report through the notices and
  // the notifier.
  service_.reset();
  notifier_.reset();
  frame_.reset();
  options_.reset();
}

bool CKestrelApp::InitInstance() {
  guard_ = std::make_unique<CInstanceChecker>(QString::fromUtf8(LoadUiString(IDS_APP_TITLE)));
  if (guard_->PreviousInstanceRunning()) return false;

  frame_ = std::make_unique<CMainFrame>();
  const CTrayIcon& tray = frame_->TrayIcon();
  connect(tray.SettingsAction(), &QAction::triggered, this, &CKestrelApp::OpenSettings);
  connect(tray.JotterAction(), &QAction::triggered, this, &CKestrelApp::StartJotter);
  connect(tray.HelpAction(), &QAction::triggered, this, &CKestrelApp::OpenHelp);
  connect(tray.AboutAction(), &QAction::triggered, this, &CKestrelApp::ShowAbout);
  connect(frame_.get(), &CMainFrame::Closed, this, &CKestrelApp::ExitRequested);
  guard_->TrackFirstInstanceRunning(frame_.get());

  log_ = std::make_unique<CEventLog>(ApplicationFolder());
  options_ = std::make_unique<COptionsSheet>();
  service_ = std::make_unique<CServiceApp>(*log_, notices_, options_.get());
  options_->SetAdministrationConnection(&service_->AdministrationConnection());
  notifier_ = std::make_unique<CFaxNotifier>(&frame_->TrayIcon().PlatformIcon());
  service_->SetForwardedFaxListener(notifier_.get());
  connect(notifier_.get(), &CFaxNotifier::Shown, this, &CKestrelApp::UpdateTrayStatus);
  // Mail that waited for a sign-in goes as soon as the Email page made one.
  connect(options_->EmailPage(), &CEmailPage::SignedIn, this, [this] { service_->TryMailQueueNow(); });
  const Status started = service_->InitInstance();
  if (started) {
    statusTimer_ = new QTimer(this);
    connect(statusTimer_, &QTimer::timeout, this, &CKestrelApp::UpdateTrayStatus);
    statusTimer_->start(kStatusIntervalMs);
    UpdateTrayStatus();
    // Without a tray, a later start is the way to the settings.
    connect(guard_.get(), &CInstanceChecker::ActivationRequested, this, [this] {
      if (!QSystemTrayIcon::isSystemTrayAvailable()) OpenSettings();
    });
    ReportMissingTray();
    return true;
  }
  // kestreld (or a tray program of another desktop session) serves this
  // folder, or kestrel.xml cannot be used.
  ShowMessageBox(nullptr, QString::fromStdString(started.Error().text));
  return false;
}

void CKestrelApp::UpdateTrayStatus() {
  if (!service_ || !frame_) return;
  const ServiceStatus status = service_->Status();
  QStringList lines = TrayStatusLines(status);
  const std::string oauthFailure = OAuthRenewalFailure(service_->Settings(), service_->ApplicationFolder());
  const bool fresh = !oauthFailure.empty() && oauthFailure != shownOAuthFailure_;
  // Noted before showing: the notifier's Shown comes back here at once.
  shownOAuthFailure_ = oauthFailure;
  if (!oauthFailure.empty()) {
    const OAuthFailureTexts texts = OAuthFailureTextsOf(oauthFailure);
    lines << texts.line;
    if (fresh && notifier_) notifier_->Show(texts.summary, texts.body, QString());
  }
  frame_->TrayIcon().SetStatus(TrayStateIcon(TrayStateOf(status)), lines);
}

bool CKestrelApp::ReportMissingTray() {
  if (noTrayReported_ || QSystemTrayIcon::isSystemTrayAvailable()) return false;
  noTrayReported_ = true;
  // Not modal: reception goes on while the box is up.
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(LoadUiString(IDS_APP_TITLE)),
                              QString::fromUtf8(kNoTrayText), QMessageBox::Ok);
  box->setObjectName(QStringLiteral("noTrayMessage"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
  return true;
}

int CKestrelApp::ExitInstance() { return service_ ? service_->ExitInstance() : 0; }

void CKestrelApp::OpenSettings() {
  if (service_) service_->SettingsCommand();
}

QString CKestrelApp::JotterPath() { return FindInProgramFolders(kJotterProgram); }
QString CKestrelApp::HelpPagePath() { return FindInProgramFolders(kHelpPage); }

void CKestrelApp::StartJotter() {
  const QString path = JotterPath();
  if (path.isEmpty()) {
    ShowMessageBox(nullptr, QString::fromUtf8(kJotterMissing));
    return;
  }
  // The result is not examined: Jotter reports its own troubles.
  QProcess::startDetached(path, {}, QString::fromStdString(ApplicationFolder()));
}

void CKestrelApp::OpenHelp() {
  const QString path = HelpPagePath();
  if (path.isEmpty()) {
    ShowMessageBox(nullptr, QString::fromUtf8(kHelpMissing));
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CKestrelApp::ShowAbout() {
  if (aboutOpen_) return;
  aboutOpen_ = true;
  CAboutBox about;
  about.exec();
  aboutOpen_ = false;
}

}  // namespace kestrel
