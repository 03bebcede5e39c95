// kestrel: the tray program. The service with its notification-area icon,
// options sheet and journal page; a second start brings the first instance's
// window (or open dialog) to the front and ends. Like kestreld, SIGHUP
// re-reads kestrel.xml and SIGUSR1 sends the mail queue at once (kestrel-admin
// signals whichever program holds the application folder).
#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "desktop/artwork.h"
#include "desktop/message_box.h"
#include "platform/app_folder.h"
#include "service/service_app.h"
#include "ui/kestrel_app.h"
#include "ui/ui_string_table.h"

int main(int argc, char** argv) {
  // Answered before the window system is asked for: works over ssh too.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(
        "usage: kestrel\nThe Kestrel tray program: receives faxes and mails them, with its icon in the\n"
        "notification area. kestreld is the same service without a desktop.\n",
        stdout);
    return 0;
  }
  // The signed-in user's own folder (or KESTREL_HOME): the packaged one
  // belongs to kestreld.
  if (kestrel::SettleApplicationFolder("kestrel", kestrel::FolderUser::kDesktop).empty()) {
    std::perror("kestrel: cannot create the application folder");
    return 1;
  }
  // Blocked before any thread exists, so that only the descriptor sees them.
  sigset_t handled;
  sigemptyset(&handled);
  sigaddset(&handled, SIGHUP);
  sigaddset(&handled, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  const int signalFd = ::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  kestrel::SetMessageBoxCaption(QString::fromUtf8(kestrel::LoadUiString(kestrel::IDS_APP_TITLE)));
  QApplication::setWindowIcon(kestrel::ProgramIcon());
  // The program lives in the tray: closing the last dialog must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  kestrel::CKestrelApp kestrelApp;
  if (!kestrelApp.InitInstance()) return 0;
  QObject::connect(&kestrelApp, &kestrel::CKestrelApp::ExitRequested, &app, &QCoreApplication::quit);
  QSocketNotifier signalNotifier(signalFd < 0 ? 0 : signalFd, QSocketNotifier::Read);
  signalNotifier.setEnabled(signalFd >= 0);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      kestrel::CServiceApp* service = kestrelApp.Service();
      if (!service) continue;
      // An open options sheet saves its own values on OK; a reload now would
      // be overwritten by them.
      if (info.ssi_signo == SIGHUP && !service->SettingsSheetOpen())
        (void)service->ReloadSettingsFile();  // a refusal is in the event log
      if (info.ssi_signo == SIGUSR1) service->TryMailQueueNow();
    }
  });
  app.exec();
  return kestrelApp.ExitInstance();
}
