// kestrel: the tray program. The service with its notification-area icon,
// options sheet and journal page; a second start brings the first instance's
// window (or open dialog) to the front and ends.
#include <QApplication>

#include "ui/ui_string_table.h"
#include "desktop/artwork.h"
#include "desktop/message_box.h"
#include "ui/kestrel_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  kestrel::SetMessageBoxCaption(QString::fromUtf8(kestrel::LoadUiString(kestrel::IDS_APP_TITLE)));
  QApplication::setWindowIcon(kestrel::ProgramIcon());
  // The program lives in the tray: closing the last dialog must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  kestrel::CKestrelApp kestrelApp;
  if (!kestrelApp.InitInstance()) return 0;
  QObject::connect(&kestrelApp, &kestrel::CKestrelApp::ExitRequested, &app, &QCoreApplication::quit);
  app.exec();
  return kestrelApp.ExitInstance();
}
