// jotter: the stand-alone journal viewer. Its only window is the journal
// dialog "Kestrel Journal"; a second start brings the first one's window to
// the front and ends. It takes no arguments and reads no settings.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "desktop/artwork.h"
#include "desktop/instance_checker.h"
#include "desktop/message_box.h"
#include "journal_view/journal_view.h"
#include "platform/app_folder.h"

int main(int argc, char** argv) {
  // Answered before the window system is asked for: works over ssh too.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs("usage: jotter\nShows the journal of received faxes, newest first.\n", stdout);
    return 0;
  }
  // Started by the tray program, KESTREL_HOME is already the tray's folder.
  if (kestrel::SettleApplicationFolder("jotter", kestrel::FolderUser::kDesktop).empty()) {
    std::perror("jotter: cannot create the application folder");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("jotter"));
  kestrel::SetMessageBoxCaption(QStringLiteral("Jotter"));
  QApplication::setWindowIcon(kestrel::ProgramIcon());

  kestrel::CInstanceChecker guard(QStringLiteral("Jotter"));
  if (guard.PreviousInstanceRunning()) return 0;

  kestrel::CJournalView dialog(kestrel::CJournalView::Host::kJotter);
  guard.TrackFirstInstanceRunning(&dialog);
  dialog.Start();
  dialog.exec();
  return 0;
}
