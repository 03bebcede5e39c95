// CKestrelApp: the tray program's application object. It adds the desktop to
// the service core (CServiceApp): the single-instance guard, the hidden main
// frame with the tray icon, the options sheet as the settings editor, the
// message-box notices, and the commands of the tray menu (Settings, Jotter,
// Help, About, Exit), the tray's state icon and tooltip, a notification per
// forwarded fax, and a once-per-start message box where no tray exists (a
// later start of kestrel then opens the options sheet of this instance).
//
// User-interface thread only.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QTimer;

#include "core/event_log.h"
#include "ui/message_box_notice_sink.h"

namespace kestrel {

class CDlgOptions;
class CFaxNotifier;
class CInstanceChecker;
class CMainFrame;
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

  // A command of the tray menu (or 32781, start reception).
  void OnCommand(int id);

  // Starts Jotter from the application folder (or, for an installed program
  // whose application folder is elsewhere, from the program's own folder).
  void StartJotter();
  void OpenHelp();
  void ShowAbout();

  // Shows the service's state in the tray (also run by a timer).
  void UpdateTrayStatus();
  // Where no notification area exists: says so once, in a message box that
  // does not block reception. True when it was shown.
  bool ReportMissingTray();

  // The text of the no-tray message box.
  static const char kNoTrayText[];

  CFaxNotifier* Notifier() const { return notifier_.get(); }
  CServiceApp* Service() const { return service_.get(); }
  CDlgOptions* Options() const { return options_.get(); }
  CMainFrame* MainFrame() const { return frame_.get(); }
  CInstanceChecker* Guard() const { return guard_.get(); }

  // Where Jotter and the help page are looked for ("" when not found).
  static QString JotterPath();
  static QString HelpPagePath();

 signals:
  // The Exit command closed the main frame: leave the event loop.
  void ExitRequested();

 private:
  std::unique_ptr<CInstanceChecker> guard_;
  std::unique_ptr<CEventLog> log_;
  CMessageBoxNoticeSink notices_;
  std::unique_ptr<CDlgOptions> options_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CServiceApp> service_;
  std::unique_ptr<CFaxNotifier> notifier_;
  QTimer* statusTimer_ = nullptr;
  bool aboutOpen_ = false;
  bool noTrayReported_ = false;
};

}  // namespace kestrel
