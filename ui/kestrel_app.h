// CKestrelApp: the tray program's application object. It adds the desktop to
// the service core (CServiceApp): the single-instance guard, the hidden main
// frame with the tray icon, the options sheet as the settings editor, the
// message-box notices, and what the tray menu's actions do (Settings,
// Jotter, Help, About; Exit is the main frame's), the tray's state icon and
// tooltip, a notification per forwarded fax and one per failed renewal of the
// OAuth 2.0 sign-in, and a once-per-start message box
// where no tray exists (a later start of kestrel then opens the options sheet
// of this instance).
//
// Failures reach the administrator as message boxes (a missing Jotter or help
// page, the service's notices); InitInstance answers whether the program runs.
// User-interface thread only.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string>

class QTimer;

#include "core/event_log.h"
#include "ui/message_box_notice_sink.h"

namespace kestrel {

class CFaxNotifier;
class CInstanceChecker;
class CMainFrame;
class COptionsSheet;
class CServiceApp;

class CKestrelApp : public QObject {
  Q_OBJECT

 public:
  CKestrelApp();
  ~CKestrelApp() override;

  // Start-up in order: guard (a second instance asks the first to come
  // forward and this one ends, before settings, CAPI or the database are
  // touched), main frame and tray icon, the guard's registration, then the
  // service core (settings, worker, first-run sheet, database, MSN table
  // check, reception). False ends the program.
  bool InitInstance();
  // Halts reception, closes the database, stops the monitor. Returns 0.
  int ExitInstance();

  // Where no notification area exists: says so once, in a message box that
  // does not block reception. True when it was shown.
  bool ReportMissingTray();

  // The text of the no-tray message box.
  static const char kNoTrayText[];

  CFaxNotifier* Notifier() const { return notifier_.get(); }
  CServiceApp* Service() const { return service_.get(); }
  COptionsSheet* Options() const { return options_.get(); }
  CMainFrame* MainFrame() const { return frame_.get(); }
  CInstanceChecker* Guard() const { return guard_.get(); }

  // Where Jotter and the help page are looked for ("" when not found).
  static QString JotterPath();
  static QString HelpPagePath();

 public slots:
  // The options sheet over the service's settings (refused while it is open).
  void OpenSettings();
  // Starts Jotter from the application folder (or, for an installed program
  // whose application folder is elsewhere, from the program's own folder).
  void StartJotter();
  void OpenHelp();
  void ShowAbout();
  // Shows the service's state in the tray (also run by a timer).
  void UpdateTrayStatus();

 signals:
  // The Exit action closed the main frame: leave the event loop.
  void ExitRequested();

 private:
  std::unique_ptr<CInstanceChecker> guard_;
  std::unique_ptr<CEventLog> log_;
  CMessageBoxNoticeSink notices_;
  std::unique_ptr<COptionsSheet> options_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CServiceApp> service_;
  std::unique_ptr<CFaxNotifier> notifier_;
  QTimer* statusTimer_ = nullptr;
  bool aboutOpen_ = false;
  bool noTrayReported_ = false;
  std::string shownOAuthFailure_;  // the renewal failure notified last; empty: none
};

}  // namespace kestrel
