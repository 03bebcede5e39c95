// CMainFrame: the tray program's hidden main window. It owns the tray icon,
// paints itself light grey, and only hides when closed, unless the Exit
// command set its exit flag: then closing it ends the program.
//
// User-interface thread only.
#pragma once

#include <QWidget>

#include "ui/tray_icon.h"

namespace kestrel {

class CMainFrame : public QWidget {
  Q_OBJECT

 public:
  // Creates the frame hidden at 16, 16 with size 190 x 132, and puts the icon
  // into the notification area.
  explicit CMainFrame(QWidget* parent = nullptr);

  bool ExitFlag() const { return exitFlag_; }
  CTrayIcon& TrayIcon() { return trayIcon_; }

  // A command of the tray menu: Exit is the frame's own, the others go to the
  // application through ApplicationCommand().
  void OnCommand(int id);

 signals:
  void ApplicationCommand(int id);
  // The frame was closed with the exit flag set: the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  CTrayIcon trayIcon_;
  bool exitFlag_ = false;
};

}  // namespace kestrel
