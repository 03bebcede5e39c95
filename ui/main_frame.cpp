#include "ui/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QPainter>

#include "desktop/artwork.h"
#include "ui/ui_string_table.h"

namespace kestrel {

CMainFrame::CMainFrame(QWidget* parent) : QWidget(parent), trayIcon_(this) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowTitle(QString::fromUtf8(LoadUiString(IDS_APP_TITLE)));
  setWindowIcon(ProgramIcon());
  setGeometry(16, 16, 190, 132);
  hide();
  connect(trayIcon_.ExitAction(), &QAction::triggered, this, &CMainFrame::Exit);
  trayIcon_.ShowProgramIcon();
}

void CMainFrame::Exit() {
  exitFlag_ = true;
  close();
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
