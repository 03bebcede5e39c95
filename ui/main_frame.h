// CMainFrame: the tray program's hidden main window. It owns the tray icon,
// paints itself light grey, and only hides when closed, unless its Exit slot
// (the tray menu's Exit) set the exit flag: then closing it ends the program.
//
// Nothing here fails. User-interface thread only.
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

 public slots:
  // Sets the exit flag and closes the frame.
  void Exit();

 signals:
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
