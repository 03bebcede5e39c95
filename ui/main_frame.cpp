#include "ui/main_frame.h"

#include <QCloseEvent>
#include <QPainter>

#include "ui/ui_string_table.h"
#include "desktop/artwork.h"
#include "ui/resource.h"

namespace kestrel {

CMainFrame::CMainFrame(QWidget* parent) : QWidget(parent), trayIcon_(this) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowTitle(QString::fromUtf8(LoadUiString(IDS_APP_TITLE)));
  setWindowIcon(ProgramIcon());
  setGeometry(16, 16, 190, 132);
  hide();
  trayIcon_.SetNotificationWindow(this);
  connect(&trayIcon_, &CTrayIcon::Command, this, &CMainFrame::OnCommand);
  trayIcon_.SetIcon(IDR_TRAYICON);
}

void CMainFrame::OnCommand(int id) {
  if (id == ID_APP_EXIT) {
    exitFlag_ = true;
    close();
    return;
  }
  emit ApplicationCommand(id);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!exitFlag_) {
    // Closing the frame any other way only hides it.
    hide();
    event->ignore();
    return;
  }
  event->accept();
  emit Closed();
}

void CMainFrame::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(192, 192, 192));
}

}  // namespace kestrel
